#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/HostClock.h"

#include <QScopeGuard>
#include <QTest>

using namespace kivo;
using test::TestPlayer;

namespace {

bool setDefaultSink(const QString& name) {
    return test::pactl({QStringLiteral("set-default-sink"), name}) &&
           test::waitUntil([&] { return PulseConnection().serverInfo().defaultSinkName == name; });
}

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

    // Working-format buffers of about 20 ms, stamped on the monotonic clock near the time they
    // were recorded, joining without gaps or overlaps; after stop() nothing more arrives.
    void recordsAToneOnTheDefaultOutput() {
        test::SystemRecording recording;
        const auto before = hostNow();
        recording.capture.start();
        QCOMPARE(recording.capture.streamCount(), 1);
        TestPlayer player({QStringLiteral("default,tone,440,0.3,0,1.5")});
        QVERIFY(player.waitPlaying(0));
        QVERIFY(test::waitUntil([&] { return recording.recorder.frames() >= 72000; }));
        recording.capture.stop();
        QCOMPARE(recording.capture.streamCount(), 0);
        const auto buffers = recording.recorder.buffers();
        QTest::qWait(200);
        QCOMPARE(recording.recorder.buffers().size(), buffers.size());

        QVERIFY(buffers.front().hostTime > before - 0.5);
        QVERIFY(buffers.back().hostTime < hostNow() + 0.5);
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            QCOMPARE(buffers[i].buffer.format(), kWorkingFormat);
            QVERIFY(buffers[i].buffer.frameLength() > 0);
            QVERIFY2(i == 0 || buffers[i].buffer.frameLength() <= 4800,
                     qPrintable(QString::number(buffers[i].buffer.frameLength())));
        }
        const auto signal = test::assemble(buffers);
        QVERIFY(signal.ordered);
        QVERIFY2(signal.largestGap <= 1 && signal.largestOverlap <= 1,
                 qPrintable(QStringLiteral("gap %1, overlap %2")
                                .arg(signal.largestGap)
                                .arg(signal.largestOverlap)));
        const auto tone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(tone);
        QVERIFY(signal.amplitude(440.0, *tone + 0.1, *tone + 0.6) > 0.25);
        QVERIFY(signal.amplitude(1000.0, *tone + 0.1, *tone + 0.6) < 0.01);
        QVERIFY(recording.recorder.failures().empty());
        recording.capture.stop(); // twice is harmless
    }

    void followsTheDefaultOutputWhenTheUserSwitchesIt() {
        test::TestSink sink(QStringLiteral("kivo_test_second"));
        QVERIFY(sink.isReady());
        const auto restore =
            qScopeGuard([] { setDefaultSink(QStringLiteral("kivo_test_output")); });
        test::SystemRecording recording;
        recording.capture.start();
        {
            TestPlayer player({QStringLiteral("kivo_test_output,tone,440,0.3,0,0.8")});
            QVERIFY(player.waitDone(0));
        }
        QVERIFY(setDefaultSink(QStringLiteral("kivo_test_second")));
        QTest::qWait(300); // the capture moves to the new output's monitor
        const auto switchedAt = hostNow();
        {
            TestPlayer player({QStringLiteral("kivo_test_second,tone,660,0.3,0,0.8")});
            QVERIFY(player.waitDone(0));
        }
        QTest::qWait(200);
        recording.capture.stop();

        QVERIFY(recording.recorder.failures().empty());
        const auto signal = test::assemble(recording.recorder.buffers());
        const auto first = signal.firstAbove(0.1F, 0.0);
        QVERIFY(first && signal.amplitude(440.0, *first + 0.1, *first + 0.5) > 0.25);
        const auto second = signal.firstAbove(0.1F, switchedAt - signal.start);
        QVERIFY2(second, "nothing recorded from the new default output");
        QVERIFY(signal.amplitude(660.0, *second + 0.1, *second + 0.5) > 0.25);
        QVERIFY(signal.amplitude(440.0, *second + 0.1, *second + 0.5) < 0.01);
    }

    // A new stream makes PulseAudio rewind and re-render its output: the tone already playing
    // goes on in the recording at its level, unbroken.
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

        const auto signal = test::assemble(recording.recorder.buffers());
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
