#include "CaptureTestSupport.h"
#include "TestMain.h"

#include <QTest>

using namespace kivo;
using test::TestPlayer;

// Recording one application: every playback stream of the chosen process, nothing else.
class ApplicationAudioCaptureTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

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
