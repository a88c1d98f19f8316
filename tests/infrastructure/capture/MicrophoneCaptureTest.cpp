#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/CaptureStartError.h"
#include "infrastructure/capture/MicrophoneCapture.h"

#include <QTest>

using namespace kivo;

// Recording the microphone: the default input or a chosen source.
class MicrophoneCaptureTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void aChosenSourceThatIsGoneCannotStart() {
        MicrophoneCapture capture(std::make_shared<PulseConnection>(), 4000000000U, nullptr,
                                  nullptr);
        try {
            capture.start();
            QFAIL("started without a source");
        } catch (const CaptureStartError& error) {
            QCOMPARE(error.problem(), CaptureStartProblem::microphoneMissing);
        }
        QCOMPARE(capture.recordedSource(), std::nullopt);
    }
};

KIVO_TEST_CLASS(MicrophoneCaptureTest)
#include "MicrophoneCaptureTest.moc"
