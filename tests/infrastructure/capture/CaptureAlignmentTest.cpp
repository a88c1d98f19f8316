#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/MicrophoneCapture.h"
#include "infrastructure/capture/PulseConnection.h"
#include "infrastructure/capture/SystemAudioCapture.h"

#include <QTest>

#include <cmath>

using namespace kivo;
using test::CaptureRecorder;
using test::TestPlayer;

// The system and microphone recordings of one recording share one clock: the same sound reaching
// both sources carries the same time in both.
class CaptureAlignmentTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void theSameClickLandsAtTheSameTimeInBothRecordings_data() {
        QTest::addColumn<bool>("microphoneJoinsLater");
        QTest::newRow("started together") << false;
        QTest::newRow("microphone started while the output plays") << true;
    }

    void theSameClickLandsAtTheSameTimeInBothRecordings() {
        QFETCH(bool, microphoneJoinsLater);
        // A microphone that hears exactly what the default output plays.
        const test::RemappedSource loop(QStringLiteral("kivo_test_loop"),
                                        QStringLiteral("kivo_test_output.monitor"));
        const std::optional<quint32> loopSource = loop.index();
        QVERIFY(loopSource);

        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder system;
        CaptureRecorder microphone;
        SystemAudioCapture systemCapture(connection, std::nullopt, system.bufferHandler(),
                                         system.failureHandler());
        MicrophoneCapture microphoneCapture(connection, loopSource, microphone.bufferHandler(),
                                            microphone.failureHandler());
        systemCapture.start();
        if (!microphoneJoinsLater) {
            microphoneCapture.start();
        }

        // Clicks every 0.5 s, the first 0.25 s after the stream opens.
        TestPlayer player({QStringLiteral("default,clicks,3000,0.8,0,2.6")});
        QVERIFY(player.waitPlaying(0));
        if (microphoneJoinsLater) {
            QTest::qWait(600);
            microphoneCapture.start();
        }
        QVERIFY(player.waitDone(0));
        microphoneCapture.stop();
        systemCapture.stop();

        const auto systemSignal = test::assemble(system.buffers());
        const auto microphoneSignal = test::assemble(microphone.buffers());
        int compared = 0;
        double from = 0.0;
        while (const auto click = systemSignal.firstAbove(0.3F, from)) {
            from = *click + 0.25;
            const auto clickTime = systemSignal.start + *click;
            if (clickTime < microphoneSignal.start + 0.05) {
                QVERIFY(microphoneJoinsLater); // played before the microphone started
                continue;
            }
            const auto heard =
                microphoneSignal.firstAbove(0.3F, clickTime - microphoneSignal.start - 0.1);
            QVERIFY2(heard.has_value(), "a click is missing from the microphone recording");
            const auto offset = microphoneSignal.start + *heard - clickTime;
            QVERIFY2(std::abs(offset) < 0.005,
                     qPrintable(QStringLiteral("click %1 lies %2 ms apart")
                                    .arg(compared)
                                    .arg(offset * 1000.0)));
            ++compared;
        }
        QVERIFY2(compared >= (microphoneJoinsLater ? 2 : 4), qPrintable(QString::number(compared)));
    }
};

KIVO_TEST_CLASS(CaptureAlignmentTest)
#include "CaptureAlignmentTest.moc"
