#include "AudioTestSupport.h"
#include "TestMain.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioTrack.h"
#include "infrastructure/audio/WorkingFormat.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <csignal>
#include <limits>

#include <sys/resource.h>

using namespace kivo;

namespace {

constexpr double kFrame = 1.0 / 48000.0; // one frame in seconds
constexpr qint64 kHeaderBytes = 92;
constexpr qint64 kBytesPerFrame = 8;

bool allEqual(const std::vector<float>& samples, std::size_t from, std::size_t to, float value) {
    for (std::size_t i = from; i < to; ++i) {
        if (samples[i] != value) {
            return false;
        }
    }
    return true;
}

// Limits the size of files this process writes, so that writes past it fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_previous); }

private:
    rlimit m_previous{};
};

} // namespace

class AudioTrackTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString newPath() { return m_dir.filePath(QStringLiteral("track%1.caf").arg(++m_count)); }

private slots:
    void newTrackIsAnEmptyOpenFile() {
        const QString path = newPath();
        AudioTrack track(path);
        QCOMPARE(track.path(), path);
        QVERIFY(!track.isClosed());
        QCOMPARE(track.position(), 0);
        QCOMPARE(track.receivedFrames(), 0);
        QVERIFY(!track.inputFormat());
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(CafReader(path).length(), 0);
    }

    void creatingOverAnExistingFileFails() {
        const QString path = newPath();
        AudioTrack first(path);
        QVERIFY_THROWS_EXCEPTION(PlatformError, AudioTrack{path});
    }

    void emptyBufferChangesNothing() {
        AudioTrack track(newPath());
        PcmBuffer empty(kWorkingFormat, 100);
        QCOMPARE(track.append(empty, 1.0, 1.0f), 0.0f);
        QCOMPARE(track.position(), 0);
        QCOMPARE(track.receivedFrames(), 0);
        QVERIFY(!track.inputFormat());
        QCOMPARE(QFileInfo(track.path()).size(), kHeaderBytes);
    }

    void firstBufferAtHalfASecondFollowsSilence() {
        AudioTrack track(newPath());
        QCOMPARE(track.append(test::stereoBuffer(480, 0.5f, -0.25f), 0.5, 1.0f), 0.5f);
        QCOMPARE(track.position(), 24480);
        QCOMPARE(track.receivedFrames(), 480);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QCOMPARE(samples.left.size(), std::size_t(24480));
        QVERIFY(allEqual(samples.left, 0, 24000, 0.0f));
        QVERIFY(allEqual(samples.right, 0, 24000, 0.0f));
        QVERIFY(allEqual(samples.left, 24000, 24480, 0.5f));
        QVERIFY(allEqual(samples.right, 24000, 24480, -0.25f));
    }

    // Silence goes out in writes of 4096, 4096 and 1808 frames: with room in the file for
    // only a little more than the first write, exactly that write lands.
    void gapIsPaddedInWritesOf4096Frames() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(100, 0.5f, 0.5f), 0.0, 1.0f);
        {
            const FileSizeLimit limit(kHeaderBytes + (100 + 4096 + 2000) * kBytesPerFrame);
            QVERIFY_THROWS_EXCEPTION(PlatformError, track.pad(100 + 10000));
        }
        QCOMPARE(track.position(), 100 + 4096);
        QCOMPARE(track.receivedFrames(), 100);

        track.pad(100 + 4096 + 4096 + 1808);
        QCOMPARE(track.position(), 100 + 10000);
        QCOMPARE(track.receivedFrames(), 100);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QCOMPARE(samples.left.size(), std::size_t(10100));
        QVERIFY(allEqual(samples.left, 100, 10100, 0.0f));
    }

    void gapOf10000FramesBecomesSilenceBetweenBuffers() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(1000, 0.5f, 0.5f), 0.0, 1.0f);
        track.append(test::stereoBuffer(1000, 0.75f, 0.75f), 11000 * kFrame, 1.0f);
        QCOMPARE(track.position(), 12000);
        QCOMPARE(track.receivedFrames(), 2000);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QVERIFY(allEqual(samples.left, 0, 1000, 0.5f));
        QVERIFY(allEqual(samples.left, 1000, 11000, 0.0f));
        QVERIFY(allEqual(samples.right, 11000, 12000, 0.75f));
    }

    void overlapWithTheFileIsDropped() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(4800, 0.25f, 0.25f), 0.0, 1.0f);
        // Starts 480 frames before the end: only its last 480 frames are new.
        QCOMPARE(track.append(test::stereoBuffer(960, 0.5f, 0.5f), 4320 * kFrame, 1.0f), 0.5f);
        QCOMPARE(track.position(), 5280);
        QCOMPARE(track.receivedFrames(), 5280);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QVERIFY(allEqual(samples.left, 0, 4800, 0.25f));
        QVERIFY(allEqual(samples.left, 4800, 5280, 0.5f));
    }

    void bufferWhollyBeforeTheEndWritesNothing() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(4800, 0.25f, 0.25f), 0.0, 1.0f);
        QCOMPARE(track.append(test::stereoBuffer(480, 0.9f, 0.9f), 0.05, 1.0f), 0.0f);
        QCOMPARE(track.append(test::stereoBuffer(480, 0.9f, 0.9f), 4320 * kFrame, 1.0f), 0.0f);
        QCOMPARE(track.position(), 4800);
        QCOMPARE(track.receivedFrames(), 4800);
    }

    void timesBeforeZeroOrNotANumberCountAsZero_data() {
        QTest::addColumn<double>("at");
        QTest::newRow("-0.2 s") << -0.2;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity();
    }
    void timesBeforeZeroOrNotANumberCountAsZero() {
        QFETCH(double, at);
        AudioTrack track(newPath());
        QCOMPARE(track.append(test::stereoBuffer(100, 0.5f, 0.5f), at, 1.0f), 0.5f);
        QCOMPARE(track.position(), 100);
        QCOMPARE(track.receivedFrames(), 100);
    }

    void framesForSecondsRoundsHalvesAwayFromZero_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<qint64>("frames");
        QTest::newRow("0.5 s") << 0.5 << qint64(24000);
        QTest::newRow("2.5 frames") << 2.5 * kFrame << qint64(3);
        QTest::newRow("1.5 frames") << 1.5 * kFrame << qint64(2);
        QTest::newRow("2.4 frames") << 2.4 * kFrame << qint64(2);
        QTest::newRow("-2.5 frames") << -2.5 * kFrame << qint64(-3);
        QTest::newRow("10 s") << 10.0 << qint64(480000);
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << qint64(0);
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << qint64(0);
    }
    void framesForSecondsRoundsHalvesAwayFromZero() {
        QFETCH(double, seconds);
        QFETCH(qint64, frames);
        QCOMPARE(framesForSeconds(seconds), frames);
    }

    void startFrameOfTwoAndAHalfFramesIsThree() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(10, 0.5f, 0.5f), 2.5 * kFrame, 1.0f);
        QCOMPARE(track.position(), 13);
        QCOMPARE(track.receivedFrames(), 10);
    }

    void gainZeroWritesSilence() {
        AudioTrack track(newPath());
        QCOMPARE(track.append(test::stereoBuffer(100, 1.0f, -1.0f), 0.0, 0.0f), 0.0f);
        QCOMPARE(track.receivedFrames(), 100);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QVERIFY(allEqual(samples.left, 0, 100, 0.0f));
        QVERIFY(allEqual(samples.right, 0, 100, -0.0f));
    }

    void gainAboveOneIsStoredUnclippedAndPeaksAtOne() {
        AudioTrack track(newPath());
        QCOMPARE(track.append(test::stereoBuffer(100, 1.0f, -1.0f), 0.0, 2.0f), 1.0f);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QVERIFY(allEqual(samples.left, 0, 100, 2.0f));
        QVERIFY(allEqual(samples.right, 0, 100, -2.0f));
    }

    void peakIsTheLargestMagnitudeOfEitherChannel() {
        AudioTrack track(newPath());
        QCOMPARE(track.append(test::stereoBuffer(10, 0.1f, -0.6f), 0.0, 0.5f), 0.3f);
        PcmBuffer buffer = test::stereoBuffer(10, 0.0f, 0.0f);
        buffer.channel(0)[7] = 0.4f;
        QCOMPARE(track.append(buffer, 10 * kFrame, 1.0f), 0.4f);
    }

    // A mono 44.1 kHz source comes out as stereo at 48 kHz, every buffer at its own frame,
    // with no holes: the tone is whole after the converter's constant delay.
    void monoAt44kIsWrittenAsStereoAt48kWithoutGaps() {
        const PcmFormat mono{44100.0, 1, SampleFormat::int16, false};
        AudioTrack track(newPath());
        qint64 fed = 0;
        for (int index = 0; index < 100; ++index) {
            PcmBuffer buffer(mono, 441);
            auto* samples = reinterpret_cast<qint16*>(buffer.plane(0));
            for (qint64 i = 0; i < 441; ++i) {
                samples[i] = static_cast<qint16>(
                    std::lround(test::tone(1000.0, 44100.0, fed + i) * 32768.0));
            }
            buffer.setFrameLength(441);
            track.append(buffer, static_cast<double>(fed) / 44100.0, 1.0f);
            fed += 441;
            QCOMPARE(track.position(), (index + 1) * 480);
        }
        QCOMPARE(*track.inputFormat(), mono);
        QCOMPARE(track.receivedFrames(), 48000);
        track.close();

        const auto samples = test::readTrackFile(track.path());
        QVERIFY(samples.left == samples.right);
        const qint64 latency = SampleConverter(mono).latencyFrames();
        double largest = 0.0;
        for (qint64 n = latency + 200; n < 48000; ++n) {
            const float error = samples.left[static_cast<std::size_t>(n)] -
                                test::tone(1000.0, 48000.0, n - latency);
            largest = std::max(largest, static_cast<double>(std::fabs(error)));
        }
        QVERIFY2(largest < 1e-3, qPrintable(QStringLiteral("largest error %1").arg(largest)));
    }

    void newFormatRebuildsTheConverter() {
        AudioTrack track(newPath());
        const PcmFormat mono{44100.0, 1, SampleFormat::float32, false};
        for (int index = 0; index < 10; ++index) {
            track.append(test::toneBuffer(mono, index * 441, 441, 1000.0), index * 0.01, 1.0f);
        }
        QCOMPARE(track.position(), 4800);

        // Working-format audio right after: no resampler delay, written sample for sample.
        PcmBuffer stereo(kWorkingFormat, 480);
        for (std::size_t i = 0; i < 480; ++i) {
            stereo.channel(0)[i] = static_cast<float>(i) / 480.0f;
            stereo.channel(1)[i] = -static_cast<float>(i) / 480.0f;
        }
        stereo.setFrameLength(480);
        track.append(stereo, 0.1, 1.0f);
        QCOMPARE(*track.inputFormat(), kWorkingFormat);
        QCOMPARE(track.position(), 5280);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        for (std::size_t i = 0; i < 480; ++i) {
            QCOMPARE(samples.left[4800 + i], static_cast<float>(i) / 480.0f);
            QCOMPARE(samples.right[4800 + i], -static_cast<float>(i) / 480.0f);
        }
    }

    void unconvertibleFormatIsRefusedUntilTheFormatChanges() {
        AudioTrack track(newPath());
        const PcmFormat noRate{0.0, 2, SampleFormat::float32, false};
        PcmBuffer buffer(noRate, 10);
        buffer.setFrameLength(10);
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                track.append(buffer, 0.0, 1.0f);
                QFAIL("the buffer was accepted");
            } catch (const KivoError& error) {
                QCOMPARE(error.text(), QStringLiteral("此音訊格式無法轉換。"));
            }
            QCOMPARE(*track.inputFormat(), noRate);
        }
        QCOMPARE(track.position(), 0);
        QCOMPARE(track.append(test::stereoBuffer(10, 0.5f, 0.5f), 0.0, 1.0f), 0.5f);
        QCOMPARE(track.position(), 10);
    }

    void failedWriteLeavesTheCountersAndTheNextWriteLandsInPlace() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(1000, 0.25f, 0.25f), 0.0, 1.0f);
        {
            const FileSizeLimit limit(kHeaderBytes + 1500 * kBytesPerFrame);
            QVERIFY_THROWS_EXCEPTION(
                PlatformError,
                track.append(test::stereoBuffer(1000, 0.5f, 0.5f), 1000 * kFrame, 1.0f));
        }
        QCOMPARE(track.position(), 1000);
        QCOMPARE(track.receivedFrames(), 1000);
        track.append(test::stereoBuffer(1000, 0.75f, 0.75f), 1000 * kFrame, 1.0f);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QCOMPARE(samples.left.size(), std::size_t(2000));
        QVERIFY(allEqual(samples.left, 1000, 2000, 0.75f));
    }

    void closedTrackTakesNoMoreAudio() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(100, 0.5f, 0.5f), 0.0, 1.0f);
        track.close();
        QVERIFY(track.isClosed());
        track.close();
        track.syncToDisk();
        QCOMPARE(track.append(test::stereoBuffer(100, 0.5f, 0.5f), 1.0, 1.0f), 0.0f);
        track.pad(100000);
        QCOMPARE(track.position(), 100);
        QCOMPARE(track.receivedFrames(), 100);

        CafReader reader(track.path());
        QVERIFY(reader.isComplete());
        QCOMPARE(reader.length(), 100);
    }

    void destroyedTrackLeavesAClosedFile() {
        const QString path = newPath();
        {
            AudioTrack track(path);
            track.append(test::stereoBuffer(300, 0.5f, 0.5f), 0.0, 1.0f);
        }
        SF_INFO info{};
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        QVERIFY(file != nullptr);
        QCOMPARE(info.frames, 300);
        sf_close(file);
    }
};

KIVO_TEST_CLASS(AudioTrackTest)
#include "AudioTrackTest.moc"
