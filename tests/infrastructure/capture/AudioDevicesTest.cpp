#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/AudioDevices.h"
#include "infrastructure/capture/PulseConnection.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>

using namespace kivo;

namespace {

// Sets an environment variable for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnvironment() {
        if (m_had) {
            qputenv(m_name, m_old);
        } else {
            qunsetenv(m_name);
        }
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

// The inputs the microphone can be switched to.
class AudioDevicesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void listsTheServersInputsButNoMonitors() {
        const auto devices = AudioDevices::inputs();
        const auto microphone = test::sourceIndex(QStringLiteral("kivo_test_mic"));
        QVERIFY(microphone.has_value());
        QVERIFY(std::find(devices.begin(), devices.end(),
                          AudioInputDevice{*microphone, QStringLiteral("Kivo_Test_Mic")}) !=
                devices.end());

        PulseConnection connection;
        std::vector<AudioInputDevice> expected;
        for (const auto& source : connection.sources()) {
            if (!source.isMonitor) {
                expected.push_back({source.index, source.description});
            }
        }
        // The server's order, monitors left out.
        QCOMPARE(devices, expected);
        const auto monitor = test::sourceIndex(QStringLiteral("kivo_test_output.monitor"));
        QVERIFY(monitor.has_value());
        for (const auto& device : devices) {
            QVERIFY(device.name != QStringLiteral("Monitor of Kivo_Test_Output"));
        }
    }

    void aNewInputAppearsAndAGoneOneDisappears() {
        test::LoadedModule extra(
            QStringLiteral("module-remap-source"),
            {QStringLiteral("source_name=kivo_test_extra"),
             QStringLiteral("master=kivo_test_mic_feed.monitor"),
             QStringLiteral("source_properties=device.description=Extra_Mic")});
        QVERIFY(extra.isLoaded());
        const auto named = [](const QString& name) {
            const auto devices = AudioDevices::inputs();
            return std::any_of(devices.begin(), devices.end(),
                               [&](const auto& device) { return device.name == name; });
        };
        QVERIFY(test::waitUntil([&] { return named(QStringLiteral("Extra_Mic")); }, 5000));
        extra.unload();
        QVERIFY(test::waitUntil([&] { return !named(QStringLiteral("Extra_Mic")); }, 5000));
    }

    void withoutAServerTheListIsEmptyAtOnce() {
        ScopedEnvironment server("PULSE_SERVER", "unix:/nonexistent/kivo/native");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(AudioDevices::inputs().empty());
        QVERIFY(timer.elapsed() < 1000);
    }
};

KIVO_TEST_CLASS(AudioDevicesTest)
#include "AudioDevicesTest.moc"
