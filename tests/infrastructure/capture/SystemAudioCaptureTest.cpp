#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/HostClock.h"

#include <QScopeGuard>
#include <QTest>

using namespace kivo;
using test::TestPlayer;

namespace {

bool suspendOutput(bool suspend) {
    return test::pactl({QStringLiteral("suspend-sink"), QStringLiteral("kivo_test_output"),
                        QString::number(int(suspend))});
}

} // namespace

// Recording the whole system: the monitor of the default output.
class SystemAudioCaptureTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    // A new stream makes PulseAudio rewind and re-render its output: the tone already playing
    // goes on in the recording at its level, unbroken, in working-format buffers of about 20 ms
    // that join without gaps or overlaps; after stop() nothing more arrives.
    void aToneGoesOnUnbrokenWhenAnotherProgramStartsPlaying() {
        TestPlayer first({QStringLiteral("default,tone,440,0.3,0,forever")});
        QVERIFY(first.waitPlaying(0));
        test::SystemRecording recording;
        recording.capture.start();
        QTest::qWait(800);
        {
            TestPlayer second({QStringLiteral("default,tone,1320,0.3,0,0.6")});
            QVERIFY(second.waitDone(0));
        }
        QTest::qWait(800);
        recording.capture.stop();
        QCOMPARE(recording.capture.streamCount(), 0);
        const auto buffers = recording.recorder.buffers();
        QTest::qWait(200);
        QCOMPARE(recording.recorder.buffers().size(), buffers.size());
        for (std::size_t i = 1; i < buffers.size(); ++i) {
            QCOMPARE(buffers[i].buffer.format(), kWorkingFormat);
            QVERIFY(buffers[i].buffer.frameLength() > 0 && buffers[i].buffer.frameLength() <= 4800);
        }
        const auto signal = test::assemble(buffers);
        QVERIFY(signal.ordered && signal.largestGap <= 1 && signal.largestOverlap <= 1);
        const auto seconds = static_cast<double>(signal.left.size()) / 48000.0;
        QVERIFY(seconds > 2.0);
        for (double from = 0.3; from + 0.2 < seconds - 0.1; from += 0.2) {
            const auto amplitude = signal.amplitude(440.0, from, from + 0.2);
            QVERIFY2(std::abs(amplitude - 0.3) < 0.02,
                     qPrintable(QStringLiteral("%1 at %2 s").arg(amplitude).arg(from)));
        }
        QVERIFY(signal.amplitude(1320.0, 0.0, seconds) > 0.05);
    }

    // Had the stamps simply counted on through a suspended output, audio played after it would
    // lie a second off.
    void audioAfterASuspendedOutputIsStampedWhenItWasPlayed() {
        test::SystemRecording recording;
        recording.capture.start();
        QTest::qWait(300);
        const auto resume = qScopeGuard([] { suspendOutput(false); });
        QVERIFY(suspendOutput(true));
        QTest::qWait(1000);
        QVERIFY(suspendOutput(false));
        QTest::qWait(300);
        const auto opened = hostNow(); // the first click leaves the player 0.25 s later
        TestPlayer player({QStringLiteral("default,clicks,3000,0.8,0,1.3")});
        QVERIFY(player.waitDone(0));
        recording.capture.stop();

        QVERIFY(recording.recorder.failures().empty());
        const auto signal = test::assemble(recording.recorder.buffers());
        QVERIFY(signal.ordered);
        const auto click = signal.firstAbove(0.3F, opened - signal.start);
        QVERIFY(click);
        const auto delay = signal.start + *click - opened;
        QVERIFY2(delay > 0.2 && delay < 0.45, qPrintable(QString::number(delay)));
    }
};

KIVO_TEST_CLASS(SystemAudioCaptureTest)
#include "SystemAudioCaptureTest.moc"
