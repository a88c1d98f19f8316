#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/CaptureStartError.h"
#include "infrastructure/capture/MicrophoneCapture.h"
#include "infrastructure/capture/PulseConnection.h"
#include "infrastructure/capture/SystemAudioCapture.h"

#include <QElapsedTimer>
#include <QTest>

using namespace kivo;
using test::CaptureRecorder;

namespace {

// Connects to `address` instead of the test command's server.
std::shared_ptr<PulseConnection> connectTo(const QByteArray& address) {
    const test::ScopedPulseServer server(address);
    return std::make_shared<PulseConnection>();
}

} // namespace

// What the capture layer does when there is no sound server, or when it goes away.
class SoundServerLossTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void connectingWithoutAServerFailsQuickly() {
        QElapsedTimer timer;
        timer.start();
        try {
            connectTo("unix:/nonexistent/kivo/native");
            QFAIL("connected to nothing");
        } catch (const PlatformError& error) {
            QVERIFY2(error.description().startsWith(QStringLiteral("無法連線到音訊伺服器：")),
                     qPrintable(error.description()));
        }
        QVERIFY(timer.elapsed() < 1000);
    }

    void aServerThatStopsDuringCaptureIsReported() {
        test::PrivateServer server;
        QVERIFY(server.started());
        auto connection = connectTo(server.address());
        CaptureRecorder system;
        CaptureRecorder microphone;
        SystemAudioCapture systemCapture(connection, std::nullopt, system.bufferHandler(),
                                         system.failureHandler());
        MicrophoneCapture microphoneCapture(connection, std::nullopt, microphone.bufferHandler(),
                                            microphone.failureHandler());
        systemCapture.start();
        microphoneCapture.start();
        QVERIFY(test::waitUntil([&] { return system.frames() > 4800; }, 5000));

        server.stop();
        QVERIFY(test::waitUntil([&] { return !system.failures().empty(); }, 5000));
        QVERIFY(test::waitUntil([&] { return !microphone.failures().empty(); }, 5000));
        QCOMPARE(system.failures().size(), std::size_t{1});
        QCOMPARE(system.failures().front().kind, CaptureFailureKind::connectionLost);
        QVERIFY(!system.failures().front().description.isEmpty());
        QCOMPARE(microphone.failures().size(), std::size_t{1});
        QCOMPARE(microphone.failures().front().kind, CaptureFailureKind::connectionLost);

        QVERIFY(!connection->isConnected());
        QVERIFY_THROWS_EXCEPTION(PlatformError, connection->serverInfo());
        microphoneCapture.stop();
        systemCapture.stop();
        try {
            systemCapture.start();
            QFAIL("started without a server");
        } catch (const CaptureStartError& error) {
            QCOMPARE(error.problem(), CaptureStartProblem::serverUnreachable);
        }
    }
};

KIVO_TEST_CLASS(SoundServerLossTest)
#include "SoundServerLossTest.moc"
