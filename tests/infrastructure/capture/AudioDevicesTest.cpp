#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/AudioDevices.h"

#include <QTest>

using namespace kivo;

// The inputs the microphone can be switched to.
class AudioDevicesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    // The server's inputs in its order, monitors left out; a new input appears, a removed one
    // goes; without a server the list is empty.
    void listsTheServersInputsButNoMonitors() {
        std::vector<AudioInputDevice> expected;
        for (const auto& source : PulseConnection().sources()) {
            if (!source.isMonitor) {
                expected.push_back({source.index, source.description});
            }
        }
        const auto devices = AudioDevices::inputs();
        QCOMPARE(devices, expected);
        QVERIFY(std::count(devices.begin(), devices.end(),
                           AudioInputDevice{*test::sourceIndex(QStringLiteral("kivo_test_mic")),
                                            QStringLiteral("Kivo_Test_Mic")}) == 1);
        QVERIFY(test::sourceIndex(QStringLiteral("kivo_test_output.monitor")));

        const auto named = [] {
            const auto inputs = AudioDevices::inputs();
            return std::any_of(inputs.begin(), inputs.end(), [](const auto& device) {
                return device.name == QStringLiteral("Extra_Mic");
            });
        };
        test::LoadedModule extra(
            QStringLiteral("module-remap-source"),
            {QStringLiteral("source_name=kivo_test_extra"),
             QStringLiteral("master=kivo_test_mic_feed.monitor"),
             QStringLiteral("source_properties=device.description=Extra_Mic")});
        QVERIFY(test::waitUntil(named));
        extra.unload();
        QVERIFY(test::waitUntil([&] { return !named(); }));

        const test::ScopedPulseServer nowhere("unix:/nonexistent/kivo/native");
        QVERIFY(AudioDevices::inputs().empty());
    }
};

KIVO_TEST_CLASS(AudioDevicesTest)
#include "AudioDevicesTest.moc"
