#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/CaptureStartError.h"
#include "infrastructure/capture/HostClock.h"
#include "infrastructure/capture/PulseConnection.h"
#include "infrastructure/capture/SystemAudioCapture.h"

#include <QTest>

using namespace kivo;
using test::CaptureRecorder;
using test::TestPlayer;

// Recording the whole system: the monitor of the default output.
class SystemAudioCaptureTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void recordsAToneOnTheDefaultOutput() {
        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, std::nullopt, recorder.bufferHandler(),
                                   recorder.failureHandler());
        const auto before = hostNow();
        capture.start();
        QCOMPARE(capture.streamCount(), 1);

        TestPlayer player({QStringLiteral("default,tone,440,0.3,0,1.5")});
        QVERIFY2(player.waitPlaying(0), qPrintable(player.errors()));
        QVERIFY(test::waitUntil([&] { return recorder.frames() >= 72000; }, 5000));
        capture.stop();

        const auto buffers = recorder.buffers();
        // Every buffer is stamped on the monotonic clock, near the time it was recorded.
        QVERIFY(buffers.front().hostTime > before - 0.5);
        QVERIFY(buffers.back().hostTime < hostNow() + 0.5);
        for (const auto& [buffer, hostTime] : buffers) {
            QCOMPARE(buffer.format(), kWorkingFormat);
            QVERIFY(buffer.frameLength() > 0);
        }
        const auto signal = test::assemble(buffers);
        QVERIFY(signal.ordered);
        // Stamps advance by the frames received: buffers join without gaps or overlaps.
        QVERIFY2(signal.largestGap <= 1 && signal.largestOverlap <= 1,
                 qPrintable(QStringLiteral("gap %1, overlap %2")
                                .arg(signal.largestGap)
                                .arg(signal.largestOverlap)));

        const auto tone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(tone.has_value());
        const auto samples = signal.between(*tone + 0.1, *tone + 0.6);
        QVERIFY(test::amplitudeOf(samples, 440.0) > 0.25);
        QVERIFY(test::amplitudeOf(samples, 1000.0) < 0.01);
        QVERIFY(recorder.failures().empty());
    }

    void buffersArriveInFragmentsOfAboutTwentyMilliseconds() {
        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, std::nullopt, recorder.bufferHandler(),
                                   recorder.failureHandler());
        capture.start();
        QVERIFY(test::waitUntil([&] { return recorder.buffers().size() >= 20; }, 5000));
        capture.stop();
        // Left unset, the server would deliver about every two seconds.
        const auto buffers = recorder.buffers();
        qint64 largest = 0;
        for (std::size_t i = 1; i < buffers.size(); ++i) {
            largest = std::max(largest, buffers[i].buffer.frameLength());
        }
        QVERIFY2(largest <= 4800, qPrintable(QString::number(largest)));
    }

    void followsTheDefaultOutputWhenTheUserSwitchesIt() {
        test::TestSink second(QStringLiteral("kivo_test_second"));
        QVERIFY(second.isReady());
        struct RestoreDefault {
            ~RestoreDefault() {
                test::pactl(
                    {QStringLiteral("set-default-sink"), QStringLiteral("kivo_test_output")});
                test::waitForDefaultSink(QStringLiteral("kivo_test_output"));
            }
        } restore;

        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, std::nullopt, recorder.bufferHandler(),
                                   recorder.failureHandler());
        capture.start();

        {
            TestPlayer player({QStringLiteral("kivo_test_output,tone,440,0.3,0,0.8")});
            QVERIFY(player.waitPlaying(0));
            QVERIFY(player.waitDone(0));
        }
        test::pactl({QStringLiteral("set-default-sink"), QStringLiteral("kivo_test_second")});
        QVERIFY(test::waitForDefaultSink(QStringLiteral("kivo_test_second")));
        // The capture moves to the new output's monitor: give it a moment to open the stream.
        QTest::qWait(300);
        const auto switchedAt = hostNow();
        {
            TestPlayer player({QStringLiteral("kivo_test_second,tone,660,0.3,0,0.8")});
            QVERIFY(player.waitPlaying(0));
            QVERIFY(player.waitDone(0));
        }
        QTest::qWait(200);
        capture.stop();

        QVERIFY(recorder.failures().empty());
        const auto signal = test::assemble(recorder.buffers());
        const auto firstTone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(firstTone.has_value());
        QVERIFY(test::amplitudeOf(signal.between(*firstTone + 0.1, *firstTone + 0.5), 440.0) >
                0.25);
        const auto secondTone = signal.firstAbove(0.1F, switchedAt - signal.start);
        QVERIFY2(secondTone.has_value(), "nothing recorded from the new default output");
        const auto samples = signal.between(*secondTone + 0.1, *secondTone + 0.5);
        QVERIFY(test::amplitudeOf(samples, 660.0) > 0.25);
        QVERIFY(test::amplitudeOf(samples, 440.0) < 0.01);
    }

    void aToneGoesOnUnbrokenWhenAnotherProgramStartsPlaying() {
        TestPlayer first({QStringLiteral("default,tone,440,0.3,0,forever")});
        QVERIFY(first.waitPlaying(0));
        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, std::nullopt, recorder.bufferHandler(),
                                   recorder.failureHandler());
        capture.start();
        QTest::qWait(800);
        {
            // A new stream makes PulseAudio rewind and re-render its output.
            TestPlayer second({QStringLiteral("default,tone,1320,0.3,0,0.6")});
            QVERIFY(second.waitDone(0));
        }
        QTest::qWait(800);
        capture.stop();

        const auto signal = test::assemble(recorder.buffers());
        QVERIFY(signal.ordered);
        QVERIFY2(signal.largestGap <= 1 && signal.largestOverlap <= 1,
                 qPrintable(QStringLiteral("gap %1, overlap %2")
                                .arg(signal.largestGap)
                                .arg(signal.largestOverlap)));
        const auto seconds = static_cast<double>(signal.left.size()) / 48000.0;
        QVERIFY(seconds > 2.0);
        // Every stretch holds the first program's tone at its level.
        for (double from = 0.3; from + 0.2 < seconds - 0.1; from += 0.2) {
            const auto amplitude = test::amplitudeOf(signal.between(from, from + 0.2), 440.0);
            QVERIFY2(std::abs(amplitude - 0.3) < 0.02,
                     qPrintable(QStringLiteral("%1 at %2 s").arg(amplitude).arg(from)));
        }
        QVERIFY(test::amplitudeOf(signal.between(0.0, seconds), 1320.0) > 0.05);
    }

    void audioAfterASuspendedOutputIsStampedWhenItWasPlayed() {
        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, std::nullopt, recorder.bufferHandler(),
                                   recorder.failureHandler());
        capture.start();
        QTest::qWait(300);
        struct Resume {
            ~Resume() {
                test::pactl({QStringLiteral("suspend-sink"), QStringLiteral("kivo_test_output"),
                             QStringLiteral("0")});
            }
        } resume;
        bool suspended = false;
        test::pactl({QStringLiteral("suspend-sink"), QStringLiteral("kivo_test_output"),
                     QStringLiteral("1")},
                    &suspended);
        QVERIFY(suspended);
        QTest::qWait(1000);
        test::pactl({QStringLiteral("suspend-sink"), QStringLiteral("kivo_test_output"),
                     QStringLiteral("0")});
        QTest::qWait(300);
        // Clicks every 0.5 s from 0.25 s after the player opens its stream.
        const auto opened = hostNow();
        TestPlayer player({QStringLiteral("default,clicks,3000,0.8,0,1.3")});
        QVERIFY(player.waitPlaying(0));
        QVERIFY(player.waitDone(0));
        capture.stop();

        QVERIFY(recorder.failures().empty());
        const auto signal = test::assemble(recorder.buffers());
        QVERIFY(signal.ordered);
        const auto click = signal.firstAbove(0.3F, opened - signal.start);
        QVERIFY(click.has_value());
        // The first click left the player about 0.25 s after it opened its stream; had the
        // stamps simply counted on through the suspend, it would lie a second off.
        const auto delay = signal.start + *click - opened;
        QVERIFY2(delay > 0.2 && delay < 0.45, qPrintable(QString::number(delay)));
    }

    void stopHandsOnEverythingAndThenStaysSilent() {
        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        SystemAudioCapture capture(connection, std::nullopt, recorder.bufferHandler(),
                                   recorder.failureHandler());
        capture.start();
        QVERIFY(test::waitUntil([&] { return recorder.frames() > 4800; }, 5000));
        capture.stop();
        const auto frames = recorder.frames();
        QCOMPARE(capture.streamCount(), 0);
        QTest::qWait(200);
        QCOMPARE(recorder.frames(), frames);
        capture.stop(); // twice is harmless
    }
};

KIVO_TEST_CLASS(SystemAudioCaptureTest)
#include "SystemAudioCaptureTest.moc"
