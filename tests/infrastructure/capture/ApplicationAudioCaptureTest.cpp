#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/HostClock.h"
#include "infrastructure/capture/PulseConnection.h"
#include "infrastructure/capture/SystemAudioCapture.h"

#include <QTest>

#include <cmath>

using namespace kivo;
using test::CaptureRecorder;
using test::TestPlayer;

namespace {

// Waits until the server lists `count` playback streams of process `pid`.
bool waitForStreams(qint32 pid, std::size_t count) {
    return test::waitUntil(
        [&] {
            PulseConnection connection;
            std::size_t found = 0;
            for (const auto& input : connection.sinkInputs()) {
                found += input.processID == pid ? 1 : 0;
            }
            return found >= count;
        },
        5000);
}

double decibels(double ratio) {
    return 20.0 * std::log10(std::max(ratio, 1e-12));
}

} // namespace

// Recording one application: every playback stream of the chosen process, nothing else.
class ApplicationAudioCaptureTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void recordsTheChosenProcessAndNoOther() {
        // A stops playing before B: when A's stream ends, nothing of B may come in instead.
        TestPlayer chosen({QStringLiteral("default,tone,440,0.3,0,1.2")}, QStringLiteral("A"));
        TestPlayer other({QStringLiteral("default,tone,1250,0.3,0,forever")}, QStringLiteral("B"));
        QVERIFY(chosen.waitPlaying(0));
        QVERIFY(other.waitPlaying(0));
        QVERIFY(waitForStreams(chosen.pid(), 1));

        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, chosen.pid(), recorder.bufferHandler(),
                                   recorder.failureHandler());
        capture.start();
        QCOMPARE(capture.streamCount(), 1);
        QVERIFY(chosen.waitDone(0));
        QTest::qWait(800); // B goes on alone
        capture.stop();

        QVERIFY(recorder.failures().empty());
        const auto signal = test::assemble(recorder.buffers());
        QVERIFY(signal.ordered);
        const auto all = signal.between(0.0, 1e9);
        const auto tone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(tone.has_value());
        const auto chosenPart = signal.between(*tone + 0.05, *tone + 0.45);
        const auto a = test::amplitudeOf(chosenPart, 440.0);
        QVERIFY2(a > 0.25, qPrintable(QString::number(a)));
        const auto b = test::amplitudeOf(chosenPart, 1250.0);
        QVERIFY2(decibels(b / a) <= -40.0, qPrintable(QString::number(decibels(b / a))));
        // After A ended: silence, not B.
        const auto peakAfter = [&] {
            float peak = 0.0F;
            for (const auto sample : signal.between(*tone + 1.4, 1e9)) {
                peak = std::max(peak, std::abs(sample));
            }
            return peak;
        }();
        QVERIFY2(peakAfter < 0.003F, qPrintable(QString::number(peakAfter)));
        QVERIFY(test::amplitudeOf(all, 1250.0) < a * 0.01);
    }

    void picksUpStreamsTheProcessOpensLater() {
        // Stream 0 plays from the start, stream 1 opens a second later.
        TestPlayer player({QStringLiteral("default,tone,440,0.3,0,2.5"),
                           QStringLiteral("default,tone,880,0.3,1.0,1.5")});
        QVERIFY(player.waitPlaying(0));
        QVERIFY(waitForStreams(player.pid(), 1));

        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, player.pid(), recorder.bufferHandler(),
                                   recorder.failureHandler());
        const auto started = hostNow();
        capture.start();
        QVERIFY(player.waitPlaying(1));
        QVERIFY(test::waitUntil([&] { return capture.streamCount() == 2; }, 3000));
        QVERIFY(player.waitDone(1));
        capture.stop();

        const auto signal = test::assemble(recorder.buffers());
        const auto early =
            signal.between(started - signal.start + 0.1, started - signal.start + 0.5);
        QVERIFY(test::amplitudeOf(early, 440.0) > 0.25);
        QVERIFY(test::amplitudeOf(early, 880.0) < 0.003);
        // Once the second stream plays, both are in the one recording, summed.
        const auto second = signal.firstAbove(0.45F, started - signal.start + 0.5);
        QVERIFY2(second.has_value(), "the second stream was not recorded");
        const auto late = signal.between(*second + 0.1, *second + 0.6);
        QVERIFY(test::amplitudeOf(late, 440.0) > 0.25);
        QVERIFY(test::amplitudeOf(late, 880.0) > 0.25);
    }

    void followsAStreamMovedToAnotherOutput() {
        test::TestSink second(QStringLiteral("kivo_test_moved"));
        QVERIFY(second.isReady());
        TestPlayer player({QStringLiteral("default,tone,440,0.3,0,3")});
        QVERIFY(player.waitPlaying(0));
        QVERIFY(waitForStreams(player.pid(), 1));
        quint32 sinkInput = PulseConnection::kNoIndex;
        {
            PulseConnection connection;
            for (const auto& input : connection.sinkInputs()) {
                if (input.processID == player.pid()) {
                    sinkInput = input.index;
                }
            }
        }

        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, player.pid(), recorder.bufferHandler(),
                                   recorder.failureHandler());
        capture.start();
        QTest::qWait(500);
        bool moved = false;
        test::pactl({QStringLiteral("move-sink-input"), QString::number(sinkInput),
                     QStringLiteral("kivo_test_moved")},
                    &moved);
        QVERIFY(moved);
        const auto movedAt = hostNow();
        QTest::qWait(1200);
        capture.stop();

        QVERIFY(recorder.failures().empty());
        const auto signal = test::assemble(recorder.buffers());
        const auto after =
            signal.between(movedAt - signal.start + 0.4, movedAt - signal.start + 1.1);
        QVERIFY2(test::amplitudeOf(after, 440.0) > 0.25,
                 "the stream was not recorded on its new output");
    }

    void startsForAProcessThatPlaysNothingYet() {
        TestPlayer player({QStringLiteral("default,tone,660,0.3,0.8,1.0")});
        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, player.pid(), recorder.bufferHandler(),
                                   recorder.failureHandler());
        capture.start();
        QCOMPARE(capture.streamCount(), 0);
        QVERIFY(player.waitPlaying(0));
        QVERIFY(player.waitDone(0));
        capture.stop();
        const auto signal = test::assemble(recorder.buffers());
        const auto tone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(tone.has_value());
        QVERIFY(test::amplitudeOf(signal.between(*tone + 0.1, *tone + 0.6), 660.0) > 0.25);
    }
};

KIVO_TEST_CLASS(ApplicationAudioCaptureTest)
#include "ApplicationAudioCaptureTest.moc"
