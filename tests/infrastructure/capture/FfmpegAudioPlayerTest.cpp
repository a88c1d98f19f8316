#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioFileWriter.h"
#include "infrastructure/audio/FfmpegAudioPlayerFactory.h"
#include "infrastructure/capture/HostClock.h"
#include "infrastructure/capture/PulseConnection.h"
#include "infrastructure/capture/SystemAudioCapture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <numbers>

using namespace kivo;

Q_DECLARE_METATYPE(AudioOutputFormat)

namespace {

// Not a whole number of AAC frames, so the edit list decides where the file ends.
constexpr qint64 kFrames = 50000;
constexpr double kSeconds = static_cast<double>(kFrames) / 48000.0;
// The first half of each file plays a 440 Hz tone, the second half 880 Hz.
constexpr qint64 kHalf = kFrames / 2;

QString writeTwoTones(const QTemporaryDir& folder, AudioOutputFormat format) {
    const auto path = folder.filePath(QStringLiteral("tones.") + fileExtension(format));
    std::vector<float> samples(kFrames);
    for (qint64 i = 0; i < kFrames; ++i) {
        const double hz = i < kHalf ? 440.0 : 880.0;
        samples[static_cast<std::size_t>(i)] =
            static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * hz * double(i) / 48000.0));
    }
    auto writer = AudioFileWriter::create(path, format, false, kFrames);
    writer->write(samples.data(), samples.data(), kFrames);
    writer->finish();
    return path;
}

// What the default output played while it lived.
struct OutputRecording {
    std::shared_ptr<PulseConnection> connection = std::make_shared<PulseConnection>();
    test::CaptureRecorder recorder;
    SystemAudioCapture capture{connection, std::nullopt, recorder.bufferHandler(),
                               recorder.failureHandler()};
    OutputRecording() { capture.start(); }
    // The amplitudes of the two tones over 0.4 s from `from` seconds after the sound began.
    std::pair<double, double> tonesAfter(double from) {
        capture.stop();
        const auto signal = test::assemble(recorder.buffers());
        const auto begin = signal.firstAbove(0.1F, 0.0).value_or(1e9) + from;
        const auto samples = signal.between(begin, begin + 0.4);
        return {test::amplitudeOf(samples, 440.0), test::amplitudeOf(samples, 880.0)};
    }
};

} // namespace

class FfmpegAudioPlayerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    FfmpegAudioPlayerFactory m_factory;
    int m_finishes = 0;
    bool m_finishedOnMainThread = true;
    bool m_finishedSuccessfully = false;

    std::unique_ptr<AudioPlayer> open(AudioOutputFormat format) {
        auto player = m_factory.open(writeTwoTones(m_folder, format));
        m_finishes = 0;
        player->onFinished = [this](bool successfully) {
            ++m_finishes;
            m_finishedSuccessfully = successfully;
            m_finishedOnMainThread &= QThread::currentThread() == qApp->thread();
        };
        return player;
    }

    static void formats() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::newRow("m4a") << AudioOutputFormat::aac;
        QTest::newRow("wav") << AudioOutputFormat::wav;
    }

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void opensPausedAtTheStartWithTheFileLength_data() { formats(); }
    void opensPausedAtTheStartWithTheFileLength() {
        QFETCH(AudioOutputFormat, format);
        const auto player = open(format);
        QCOMPARE(player->duration(), kSeconds);
        QCOMPARE(player->currentTime(), 0.0);
        QVERIFY(!player->isPlaying());
    }

    void playsTheWholeFileOnTheDefaultOutputAndTellsTheEndOnce_data() { formats(); }
    void playsTheWholeFileOnTheDefaultOutputAndTellsTheEndOnce() {
        QFETCH(AudioOutputFormat, format);
        OutputRecording output;
        const auto player = open(format);
        const auto started = hostNow();
        player->play();
        QVERIFY(player->isPlaying());
        double last = 0.0;
        while (m_finishes == 0 && hostNow() - started < 5.0) {
            const auto now = player->currentTime();
            // What is heard: it never runs ahead of the time since play() nor goes back.
            QVERIFY2(now >= last && now <= hostNow() - started + 0.02,
                     qPrintable(QString::number(now)));
            last = now;
            QTest::qWait(10);
        }
        QVERIFY(last > kSeconds - 0.1);
        QTest::qWait(300);
        QCOMPARE(m_finishes, 1);
        QVERIFY(m_finishedSuccessfully && m_finishedOnMainThread);
        const auto [low, high] = output.tonesAfter(0.05);
        const auto [laterLow, laterHigh] = output.tonesAfter(0.57);
        QVERIFY2(
            low > 0.25 && high < 0.01 && laterHigh > 0.25 && laterLow < 0.01,
            qPrintable(
                QStringLiteral("%1 %2 %3 %4").arg(low).arg(high).arg(laterLow).arg(laterHigh)));
        // Back at the start: play() plays the file again.
        QVERIFY(!player->isPlaying());
        QCOMPARE(player->currentTime(), 0.0);
        player->play();
        QVERIFY(test::waitUntil([&] { return player->currentTime() > 0.1; }, 2000));
    }

    void pauseHoldsThePositionAndSeekingMovesIt_data() { formats(); }
    void pauseHoldsThePositionAndSeekingMovesIt() {
        QFETCH(AudioOutputFormat, format);
        const auto player = open(format);
        player->play();
        QVERIFY(test::waitUntil([&] { return player->currentTime() > 0.2; }, 2000));
        player->pause();
        QVERIFY(!player->isPlaying());
        QTest::qWait(100);
        const auto paused = player->currentTime();
        QTest::qWait(300);
        QCOMPARE(player->currentTime(), paused);
        QVERIFY(paused < kSeconds / 2);

        // From the second half only its tone is heard, to the end.
        player->setCurrentTime(kSeconds / 2);
        QCOMPARE(player->currentTime(), kSeconds / 2);
        QVERIFY(!player->isPlaying());
        OutputRecording output;
        player->play();
        QVERIFY(test::waitUntil([&] { return m_finishes == 1; }, 5000));
        const auto [low, high] = output.tonesAfter(0.02);
        QVERIFY2(high > 0.25 && low < 0.01, qPrintable(QStringLiteral("%1 %2").arg(low).arg(high)));
    }

    void destroyingAPlayingPlayerEndsItSilently_data() {
        QTest::addColumn<int>("afterMs");
        QTest::newRow("just started") << 0;
        QTest::newRow("draining") << 1000;
        QTest::newRow("ended, its notice not yet delivered") << 1500;
    }
    void destroyingAPlayingPlayerEndsItSilently() {
        QFETCH(int, afterMs);
        auto player = open(AudioOutputFormat::aac);
        player->play();
        QThread::msleep(static_cast<unsigned long>(afterMs)); // the end notice may be on its way
        player.reset();
        QTest::qWait(300);
        QCOMPARE(m_finishes, 0);
    }

    void filesThatCannotBePlayedThrowWithTheReason_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("text") << QByteArray("not audio at all\n");
    }
    void filesThatCannotBePlayedThrowWithTheReason() {
        QFETCH(QByteArray, contents);
        const auto path = m_folder.filePath(QStringLiteral("notes.m4a"));
        QFile::remove(path);
        if (!contents.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
        }
        try {
            m_factory.open(path);
            QFAIL("opened");
        } catch (const PlatformError& error) {
            QVERIFY2(error.description().startsWith(QStringLiteral("無法開啟音檔「") + path +
                                                    QStringLiteral("」：")) &&
                         !error.description().endsWith(QStringLiteral("：")),
                     qPrintable(error.description()));
        }
    }
};

KIVO_TEST_CLASS(FfmpegAudioPlayerTest)

#include "FfmpegAudioPlayerTest.moc"
