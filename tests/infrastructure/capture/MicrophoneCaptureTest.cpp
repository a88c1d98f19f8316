#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/CaptureStartError.h"
#include "infrastructure/capture/MicrophoneCapture.h"
#include "infrastructure/capture/PulseConnection.h"

#include <QTest>

using namespace kivo;
using test::CaptureRecorder;
using test::TestPlayer;

// Recording the microphone: the default input or a chosen source.
class MicrophoneCaptureTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void recordsWhatReachesTheMicrophone_data() {
        QTest::addColumn<bool>("chosen");
        QTest::newRow("default input") << false;
        QTest::newRow("chosen source") << true;
    }

    void recordsWhatReachesTheMicrophone() {
        QFETCH(bool, chosen);
        std::optional<quint32> source;
        if (chosen) {
            source = test::sourceIndex(QStringLiteral("kivo_test_mic"));
            QVERIFY(source.has_value());
        }
        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        MicrophoneCapture capture(connection, source, recorder.bufferHandler(),
                                  recorder.failureHandler());
        capture.start();
        QCOMPARE(capture.recordedSource(), test::sourceIndex(QStringLiteral("kivo_test_mic")));

        TestPlayer speaker({QStringLiteral("kivo_test_mic_feed,tone,1000,0.4,0,1.2")});
        QVERIFY(speaker.waitPlaying(0));
        QVERIFY(speaker.waitDone(0));
        capture.stop();

        QVERIFY(recorder.failures().empty());
        const auto buffers = recorder.buffers();
        QVERIFY(buffers.size() > 10);
        // Fragments of about 1024 frames.
        for (std::size_t i = 1; i + 1 < buffers.size(); ++i) {
            QVERIFY2(buffers[i].buffer.frameLength() <= 4096,
                     qPrintable(QString::number(buffers[i].buffer.frameLength())));
        }
        const auto signal = test::assemble(buffers);
        QVERIFY(signal.ordered);
        QVERIFY(signal.largestGap <= 1 && signal.largestOverlap <= 1);
        const auto tone = signal.firstAbove(0.1F, 0.0);
        QVERIFY(tone.has_value());
        const auto samples = signal.between(*tone + 0.1, *tone + 0.8);
        QVERIFY(test::amplitudeOf(samples, 1000.0) > 0.35);
        QVERIFY(test::amplitudeOf(samples, 440.0) < 0.01);
    }

    void aChosenSourceThatIsGoneCannotStart() {
        auto connection = std::make_shared<PulseConnection>();
        MicrophoneCapture capture(connection, 4000000000U, nullptr, nullptr);
        try {
            capture.start();
            QFAIL("started without a source");
        } catch (const CaptureStartError& error) {
            QCOMPARE(error.problem(), CaptureStartProblem::microphoneMissing);
        }
        QCOMPARE(capture.recordedSource(), std::nullopt);
    }

    void removingTheSourceReportsAChange() {
        test::RemappedSource microphone(QStringLiteral("kivo_test_mic_removable"),
                                        QStringLiteral("kivo_test_mic_feed.monitor"));
        const std::optional<quint32> source = microphone.index();
        QVERIFY(source);

        auto connection = std::make_shared<PulseConnection>();
        CaptureRecorder recorder;
        MicrophoneCapture capture(connection, source, recorder.bufferHandler(),
                                  recorder.failureHandler());
        capture.start();
        QVERIFY(test::waitUntil([&] { return recorder.frames() > 4800; }, 5000));
        QVERIFY(recorder.failures().empty());

        microphone.unload();
        QVERIFY(test::waitUntil([&] { return !recorder.failures().empty(); }, 5000));
        const auto failure = recorder.failures().front();
        QCOMPARE(failure.kind, CaptureFailureKind::microphoneChanged);
        QVERIFY(!failure.description.isEmpty());
        capture.stop();
    }
};

KIVO_TEST_CLASS(MicrophoneCaptureTest)
#include "MicrophoneCaptureTest.moc"
