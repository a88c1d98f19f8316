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

    // Fragments of about 1024 frames that join without gaps.
    void recordsWhatReachesTheMicrophone_data() {
        QTest::addColumn<bool>("chosen");
        QTest::newRow("default input") << false;
        QTest::newRow("chosen source") << true;
    }
    void recordsWhatReachesTheMicrophone() {
        QFETCH(bool, chosen);
        const auto microphone = test::sourceIndex(QStringLiteral("kivo_test_mic"));
        QVERIFY(microphone);
        test::CaptureRecorder recorder;
        MicrophoneCapture capture(std::make_shared<PulseConnection>(),
                                  chosen ? microphone : std::nullopt, recorder.bufferHandler(),
                                  recorder.failureHandler());
        capture.start();
        QCOMPARE(capture.recordedSource(), microphone);
        test::TestPlayer speaker({QStringLiteral("kivo_test_mic_feed,tone,1000,0.4,0,1.2")});
        QVERIFY(speaker.waitDone(0));
        capture.stop();

        QVERIFY(recorder.failures().empty());
        const auto buffers = recorder.buffers();
        QVERIFY(buffers.size() > 10);
        for (std::size_t i = 1; i + 1 < buffers.size(); ++i) {
            QVERIFY(buffers[i].buffer.frameLength() <= 4096);
        }
        const auto signal = test::assemble(buffers);
        QVERIFY(signal.ordered && signal.largestGap <= 1 && signal.largestOverlap <= 1);
        const auto tone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(tone);
        QVERIFY(signal.amplitude(1000.0, *tone + 0.1, *tone + 0.8) > 0.35);
        QVERIFY(signal.amplitude(440.0, *tone + 0.1, *tone + 0.8) < 0.01);
    }

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
