#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/HostClock.h"

#include <QTest>

using namespace kivo;
using test::TestPlayer;

namespace {

// The server's playback stream of process `pid`, once it lists one.
std::optional<quint32> streamOf(qint32 pid) {
    std::optional<quint32> index;
    test::waitUntil([&] {
        for (const auto& input : PulseConnection().sinkInputs()) {
            if (input.processID == pid) {
                index = input.index;
            }
        }
        return index.has_value();
    });
    return index;
}

} // namespace

// Recording one application: every playback stream of the chosen process, nothing else.
class ApplicationAudioCaptureTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    // A stops playing before B: when A's stream ends, nothing of B comes in instead.
    void recordsTheChosenProcessAndNoOther() {
        TestPlayer chosen({QStringLiteral("default,tone,440,0.3,0,1.2")}, QStringLiteral("A"));
        TestPlayer other({QStringLiteral("default,tone,1250,0.3,0,forever")}, QStringLiteral("B"));
        QVERIFY(chosen.waitPlaying(0) && other.waitPlaying(0));
        QVERIFY(streamOf(chosen.pid()));
        test::SystemRecording recording(chosen.pid());
        recording.capture.start();
        QCOMPARE(recording.capture.streamCount(), 1);
        QVERIFY(chosen.waitDone(0));
        QTest::qWait(800); // B goes on alone
        recording.capture.stop();

        QVERIFY(recording.recorder.failures().empty());
        const auto signal = test::assemble(recording.recorder.buffers());
        QVERIFY(signal.ordered);
        const auto tone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(tone);
        const auto a = signal.amplitude(440.0, *tone + 0.05, *tone + 0.45);
        QVERIFY2(a > 0.25, qPrintable(QString::number(a)));
        QVERIFY(signal.amplitude(1250.0, *tone + 0.05, *tone + 0.45) < a * 0.01);
        QVERIFY(signal.amplitude(1250.0, 0, 1e9) < a * 0.01);
        const auto after = signal.between(*tone + 1.4, 1e9);
        QVERIFY2(test::peakLevel(after) < 0.003F,
                 qPrintable(QString::number(test::peakLevel(after))));
    }

    void followsAStreamMovedToAnotherOutput() {
        test::TestSink second(QStringLiteral("kivo_test_moved"));
        QVERIFY(second.isReady());
        TestPlayer player({QStringLiteral("default,tone,440,0.3,0,3")});
        QVERIFY(player.waitPlaying(0));
        const auto stream = streamOf(player.pid());
        QVERIFY(stream);
        test::SystemRecording recording(player.pid());
        recording.capture.start();
        QTest::qWait(500);
        QVERIFY(test::pactl({QStringLiteral("move-sink-input"), QString::number(*stream),
                             QStringLiteral("kivo_test_moved")}));
        const auto movedAt = hostNow();
        QTest::qWait(1200);
        recording.capture.stop();

        QVERIFY(recording.recorder.failures().empty());
        const auto signal = test::assemble(recording.recorder.buffers());
        const auto moved = movedAt - signal.start;
        QVERIFY2(signal.amplitude(440.0, moved + 0.4, moved + 1.1) > 0.25,
                 "the stream was not recorded on its new output");
    }

    void startsForAProcessThatPlaysNothingYet() {
        TestPlayer player({QStringLiteral("default,tone,660,0.3,0.8,1.0")});
        test::SystemRecording recording(player.pid());
        recording.capture.start();
        QCOMPARE(recording.capture.streamCount(), 0);
        QVERIFY(player.waitDone(0));
        recording.capture.stop();
        const auto signal = test::assemble(recording.recorder.buffers());
        const auto tone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(tone);
        QVERIFY(signal.amplitude(660.0, *tone + 0.1, *tone + 0.6) > 0.25);
    }
};

KIVO_TEST_CLASS(ApplicationAudioCaptureTest)
#include "ApplicationAudioCaptureTest.moc"
