#include "CaptureTestSupport.h"
#include "TestMain.h"
#include "audio/AudioTestSupport.h"

#include "infrastructure/audio/AudioFileWriter.h"
#include "infrastructure/audio/FfmpegAudioPlayerFactory.h"
#include "infrastructure/capture/HostClock.h"
#include "infrastructure/capture/SystemAudioCapture.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <QFile>
#include <QTest>
#include <QThread>

#include <mutex>

using namespace kivo;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(AudioOutputFormat)

namespace {

// Not a whole number of AAC frames, so the edit list decides where the file ends. The first
// half of each file plays a 440 Hz tone, the second half 880 Hz.
constexpr qint64 kFrames = 50000;
constexpr double kSeconds = static_cast<double>(kFrames) / 48000.0;

QString writeTwoTones(const QTemporaryDir& folder, AudioOutputFormat format) {
    const auto path = folder.filePath(u"tones."_s + fileExtension(format));
    std::vector<float> samples(kFrames);
    for (qint64 i = 0; i < kFrames; ++i) {
        samples[static_cast<std::size_t>(i)] =
            test::tone(i < kFrames / 2 ? 440.0 : 880.0, 48000.0, i, 0.3);
    }
    auto writer = AudioFileWriter::create(path, format, false, kFrames);
    writer->write(samples.data(), samples.data(), kFrames);
    writer->finish();
    return path;
}

// What the default output played while it lived, the buffers laid end to end.
struct OutputRecording {
    std::mutex lock;
    std::vector<float> left;
    SystemAudioCapture capture{std::make_shared<PulseConnection>(), std::nullopt};
    OutputRecording() {
        capture.start(
            [this](const AudioFragment& fragment) {
                const std::lock_guard guard(lock);
                for (Frames i = 0; i < fragment.frames; ++i) {
                    left.push_back(fragment.interleaved[2 * i]);
                }
            },
            [](const CaptureFailure&) {});
    }
    // The amplitudes of the two tones over 0.4 s from `from` seconds after the sound began.
    std::pair<double, double> tonesAfter(double from) {
        capture.stop();
        const test::CapturedSignal signal{0.0, left};
        const auto begin = signal.firstAbove(0.1F, 0.0).value_or(1e9) + from;
        const auto samples = signal.between(begin, begin + 0.4);
        return {test::toneAmplitude(samples, 440.0), test::toneAmplitude(samples, 880.0)};
    }
};

} // namespace

class FfmpegAudioPlayerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    FfmpegAudioPlayerFactory m_factory;
    QList<bool> m_ends; // onFinished's arguments, when called on the main thread

    std::unique_ptr<AudioPlayer> open(AudioOutputFormat format,
                                      AudioPlayerFactory* factory = nullptr) {
        auto player = (factory ? *factory : m_factory).open(writeTwoTones(m_folder, format));
        m_ends.clear();
        player->onFinished = [this](const std::optional<QString>& failure) {
            const bool successfully = !failure;
            m_ends << (QThread::currentThread() == qApp->thread() ? successfully : !successfully);
        };
        return player;
    }

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    // Heard, not just decoded: the position never runs ahead of the time since play() nor goes
    // back. Then from the start again, pause holds the position; from the second half only its
    // tone is heard, to the end.
    void playsPausesAndSeeksAudiblyAndTellsEachEndOnce_data() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::newRow("m4a") << AudioOutputFormat::aac;
        QTest::newRow("wav") << AudioOutputFormat::wav;
    }
    void playsPausesAndSeeksAudiblyAndTellsEachEndOnce() {
        QFETCH(AudioOutputFormat, format);
        const auto player = open(format);
        QCOMPARE(player->duration(), kSeconds);
        QVERIFY(player->currentTime() == 0.0 && !player->isPlaying());
        {
            OutputRecording output;
            const auto started = hostNow();
            player->play();
            QVERIFY(player->isPlaying());
            double last = 0.0;
            while (m_ends.isEmpty() && hostNow() - started < 5.0) {
                const auto now = player->currentTime();
                QVERIFY(now >= last && now <= hostNow() - started + 0.02);
                last = now;
                QTest::qWait(10);
            }
            QVERIFY(last > kSeconds - 0.1 && hostNow() - started > kSeconds);
            QTest::qWait(300);
            QCOMPARE(m_ends, QList<bool>{true});
            const auto [low, high] = output.tonesAfter(0.05);
            const auto [laterLow, laterHigh] = output.tonesAfter(0.57);
            QVERIFY(low > 0.25 && high < 0.01 && laterHigh > 0.25 && laterLow < 0.01);
        }
        QVERIFY(player->currentTime() == 0.0 && !player->isPlaying());
        player->play();
        QVERIFY(test::waitUntil([&] { return player->currentTime() > 0.2; }, 2000));
        player->pause();
        QTest::qWait(100);
        const auto paused = player->currentTime();
        QTest::qWait(300);
        QVERIFY(player->currentTime() == paused && paused < kSeconds / 2);
        player->setCurrentTime(kSeconds / 2);
        QVERIFY(player->currentTime() == kSeconds / 2 && !player->isPlaying());
        OutputRecording output;
        player->play();
        QVERIFY(test::waitUntil([&] { return m_ends == QList<bool>{true, true}; }, 5000));
        const auto [low, high] = output.tonesAfter(0.02);
        QVERIFY(high > 0.25 && low < 0.01);
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
        QVERIFY(m_ends.isEmpty());
    }

    void filesThatCannotBePlayedThrowWithTheReason_data() {
        QTest::addColumn<QByteArray>("contents"); // none: no file
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("text") << QByteArray("not audio at all\n");
    }
    void filesThatCannotBePlayedThrowWithTheReason() {
        QFETCH(QByteArray, contents);
        const auto path = m_folder.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QFile file(path);
        QVERIFY(contents.isEmpty() ||
                (file.open(QIODevice::WriteOnly) && file.write(contents) > 0 && file.flush()));
        const auto description = test::thrownText<PlatformError>([&] { m_factory.open(path); });
        const auto prefix = u"無法開啟音檔「%1」："_s.arg(path);
        QVERIFY(description.startsWith(prefix) && description.size() > prefix.size());
    }
};

KIVO_TEST_CLASS(FfmpegAudioPlayerTest)

#include "FfmpegAudioPlayerTest.moc"
