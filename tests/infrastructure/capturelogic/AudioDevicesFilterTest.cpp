#include "TestMain.h"

#include "infrastructure/capture/AudioDevices.h"
#include "infrastructure/capture/PulseConnection.h"

#include <QTest>

using namespace kivo;

// Which of the server's sources are offered as microphones.
class AudioDevicesFilterTest : public QObject {
    Q_OBJECT

private slots:
    // Sources "index,description[,monitor][,no channels]"; devices "index,name".
    void listsInputsThatCanBeRecorded_data() {
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char* name, const char* sources, const char* expected) {
            QTest::newRow(name) << QString::fromLatin1(sources).split(u';')
                                << QString::fromLatin1(expected).split(u';', Qt::SkipEmptyParts);
        };
        row("only monitors of outputs", "0,Monitor of Speakers,monitor", "");
        row("a microphone among monitors", "0,Monitor of Speakers,monitor;3,USB Mic", "3,USB Mic");
        row("no readable name", "1,;2,Headset", "2,Headset");
        row("no channels", "1,Broken,no channels", "");
        row("equal names, different ids, the server's order", "7,Mic;4,Mic", "7,Mic;4,Mic");
    }
    void listsInputsThatCanBeRecorded() {
        QFETCH(QStringList, sources);
        std::vector<PulseSourceInfo> infos;
        for (const QString& source : sources) {
            PulseSourceInfo info;
            info.index = source.section(u',', 0, 0).toUInt();
            info.name = QStringLiteral("source%1").arg(info.index);
            info.description = source.section(u',', 1, 1);
            info.isMonitor = source.endsWith(u",monitor");
            info.sampleRate = 48000;
            info.channels = source.endsWith(u",no channels") ? 0 : 2;
            infos.push_back(info);
        }
        QStringList devices;
        for (const AudioInputDevice& device : AudioDevices::fromSources(infos)) {
            devices << QStringLiteral("%1,%2").arg(device.id).arg(device.name);
        }
        QTEST(devices, "expected");
    }
};

KIVO_TEST_CLASS(AudioDevicesFilterTest)
#include "AudioDevicesFilterTest.moc"
