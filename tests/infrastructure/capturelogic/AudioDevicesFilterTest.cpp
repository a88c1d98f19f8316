#include "TestMain.h"

#include "infrastructure/capture/AudioDevices.h"
#include "infrastructure/capture/PulseConnection.h"

#include <QSet>
#include <QTest>

using namespace kivo;

Q_DECLARE_METATYPE(std::vector<PulseSourceInfo>)
Q_DECLARE_METATYPE(std::vector<AudioInputDevice>)

namespace {

PulseSourceInfo source(quint32 index, const QString& description, bool monitor = false,
                       int channels = 2) {
    PulseSourceInfo info;
    info.index = index;
    info.name = QStringLiteral("source%1").arg(index);
    info.description = description;
    info.isMonitor = monitor;
    info.sampleRate = 48000;
    info.channels = channels;
    return info;
}

} // namespace

// Which of the server's sources are offered as microphones.
class AudioDevicesFilterTest : public QObject {
    Q_OBJECT

private slots:
    void listsInputsThatCanBeRecorded_data() {
        QTest::addColumn<std::vector<PulseSourceInfo>>("sources");
        QTest::addColumn<std::vector<AudioInputDevice>>("expected");

        QTest::newRow("only monitors of outputs")
            << std::vector{source(0, QStringLiteral("Monitor of Speakers"), true)}
            << std::vector<AudioInputDevice>{};
        QTest::newRow("a microphone among monitors")
            << std::vector{source(0, QStringLiteral("Monitor of Speakers"), true),
                           source(3, QStringLiteral("USB Mic"))}
            << std::vector{AudioInputDevice{3, QStringLiteral("USB Mic")}};
        QTest::newRow("no readable name")
            << std::vector{source(1, QString()), source(2, QStringLiteral("Headset"))}
            << std::vector{AudioInputDevice{2, QStringLiteral("Headset")}};
        QTest::newRow("no channels") << std::vector{source(1, QStringLiteral("Broken"), false, 0)}
                                     << std::vector<AudioInputDevice>{};
        QTest::newRow("equal names, different ids, the server's order")
            << std::vector{source(7, QStringLiteral("Mic")), source(4, QStringLiteral("Mic"))}
            << std::vector{AudioInputDevice{7, QStringLiteral("Mic")},
                           AudioInputDevice{4, QStringLiteral("Mic")}};
    }

    void listsInputsThatCanBeRecorded() {
        QFETCH(std::vector<PulseSourceInfo>, sources);
        QFETCH(std::vector<AudioInputDevice>, expected);
        QCOMPARE(AudioDevices::fromSources(sources), expected);
    }

    void devicesAreEqualByIdAndName() {
        const AudioInputDevice mic{4, QStringLiteral("Mic")};
        QCOMPARE(mic, (AudioInputDevice{4, QStringLiteral("Mic")}));
        QVERIFY(mic != (AudioInputDevice{5, QStringLiteral("Mic")}));
        QVERIFY(mic != (AudioInputDevice{4, QStringLiteral("Mic 2")}));
        const QSet<AudioInputDevice> set{mic, AudioInputDevice{4, QStringLiteral("Mic")},
                                         AudioInputDevice{5, QStringLiteral("Mic")}};
        QCOMPARE(set.size(), 2);
    }
};

KIVO_TEST_CLASS(AudioDevicesFilterTest)
#include "AudioDevicesFilterTest.moc"
