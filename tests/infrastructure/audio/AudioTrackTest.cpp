#include "AudioTestSupport.h"
#include "TestMain.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioTrack.h"
#include "infrastructure/audio/WorkingFormat.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace kivo;

namespace {

constexpr double kFrame = 1.0 / 48000.0; // one frame in seconds
constexpr qint64 kHeaderBytes = 92;
constexpr qint64 kBytesPerFrame = 8;

bool allEqual(const std::vector<float>& samples, qint64 from, qint64 to, float value) {
    return std::all_of(samples.begin() + from, samples.begin() + to,
                       [value](float sample) { return sample == value; });
}

} // namespace

class AudioTrackTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString newPath() { return m_dir.filePath(QStringLiteral("track%1.caf").arg(++m_count)); }

private slots:
    void newTrackIsAnEmptyOpenFileThatAnEmptyBufferLeavesEmpty() {
        const QString path = newPath();
        AudioTrack track(path);
        QCOMPARE(track.path(), path);
        QVERIFY(!track.isClosed());
        QCOMPARE(CafReader(path).length(), 0);
        PcmBuffer empty(kWorkingFormat, 100);
        QCOMPARE(track.append(empty, 1.0, 1.0f), 0.0f);
        QCOMPARE(track.position(), 0);
        QCOMPARE(track.receivedFrames(), 0);
        QVERIFY(!track.inputFormat());
        QCOMPARE(QFileInfo(path).size(), kHeaderBytes);
    }

    void creatingOverAnExistingFileFails() {
        const QString path = newPath();
        AudioTrack first(path);
        QVERIFY_THROWS_EXCEPTION(PlatformError, AudioTrack{path});
    }

    // Buffer k holds left 0.25·(k + 1), right half that negated, and starts at `at[k]` seconds.
    // The file is then made of segments up to each edge: silence (−1) or buffer k's values.
    void buffersLandAtTheirStartFrames_data() {
        QTest::addColumn<QList<double>>("at");
        QTest::addColumn<QList<qint64>>("lengths");
        QTest::addColumn<QList<qint64>>("edges");
        QTest::addColumn<QList<int>>("segments");
        QTest::newRow("first at 0.5 s follows silence")
            << QList<double>{0.5} << QList<qint64>{480} << QList<qint64>{24000, 24480}
            << QList<int>{-1, 0};
        QTest::newRow("gap of 10000 frames becomes silence")
            << QList<double>{0.0, 11000 * kFrame} << QList<qint64>{1000, 1000}
            << QList<qint64>{1000, 11000, 12000} << QList<int>{0, -1, 1};
        QTest::newRow("480 frames overlapping the file are dropped")
            << QList<double>{0.0, 4320 * kFrame} << QList<qint64>{4800, 960}
            << QList<qint64>{4800, 5280} << QList<int>{0, 1};
        QTest::newRow("buffers wholly before the end write nothing")
            << QList<double>{0.0, 0.05, 4320 * kFrame} << QList<qint64>{4800, 480, 480}
            << QList<qint64>{4800} << QList<int>{0};
        QTest::newRow("start at 2.5 frames rounds to 3")
            << QList<double>{2.5 * kFrame} << QList<qint64>{10} << QList<qint64>{3, 13}
            << QList<int>{-1, 0};
        for (const double at : {-0.2, std::numeric_limits<double>::quiet_NaN(),
                                -std::numeric_limits<double>::infinity()}) {
            QTest::addRow("start at %g counts as 0", at)
                << QList<double>{at} << QList<qint64>{100} << QList<qint64>{100} << QList<int>{0};
        }
    }
    void buffersLandAtTheirStartFrames() {
        QFETCH(QList<double>, at);
        QFETCH(QList<qint64>, lengths);
        QFETCH(QList<qint64>, edges);
        QFETCH(QList<int>, segments);
        const auto value = [](int k) { return k < 0 ? 0.0f : 0.25f * static_cast<float>(k + 1); };
        AudioTrack track(newPath());
        for (int k = 0; k < at.size(); ++k) {
            const qint64 before = track.position();
            const PcmBuffer buffer = test::stereoBuffer(lengths[k], value(k), -value(k) / 2);
            const float peak = track.append(buffer, at[k], 1.0f);
            QCOMPARE(peak, track.position() > before ? value(k) : 0.0f);
        }
        QCOMPARE(track.position(), edges.last());
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QCOMPARE(static_cast<qint64>(samples.left.size()), edges.last());
        qint64 received = 0;
        for (qsizetype s = 0; s < segments.size(); ++s) {
            const qint64 from = s == 0 ? 0 : edges[s - 1];
            received += segments[s] < 0 ? 0 : edges[s] - from;
            QVERIFY(allEqual(samples.left, from, edges[s], value(segments[s])));
            QVERIFY(allEqual(samples.right, from, edges[s], -value(segments[s]) / 2));
        }
        QCOMPARE(track.receivedFrames(), received);
    }

    void framesForSecondsRoundsHalvesAwayFromZero_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<qint64>("frames");
        QTest::newRow("2.5 frames") << 2.5 * kFrame << qint64(3);
        QTest::newRow("2.4 frames") << 2.4 * kFrame << qint64(2);
        QTest::newRow("-2.5 frames") << -2.5 * kFrame << qint64(-3);
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << qint64(0);
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << qint64(0);
    }
    void framesForSecondsRoundsHalvesAwayFromZero() {
        QFETCH(double, seconds);
        QFETCH(qint64, frames);
        QCOMPARE(framesForSeconds(seconds), frames);
    }

    // Samples are stored times the gain, unclipped; the peak is the largest magnitude of either
    // channel anywhere in the buffer after the gain, at most 1.0.
    void gainIsAppliedAndThePeakReported_data() {
        QTest::addColumn<float>("left");
        QTest::addColumn<float>("right");
        QTest::addColumn<float>("gain");
        QTest::addColumn<float>("spike");
        QTest::addColumn<float>("peak");
        QTest::newRow("gain 0 writes silence") << 1.0f << -1.0f << 0.0f << 0.0f << 0.0f;
        QTest::newRow("gain 2 stored unclipped, peak 1.0") << 1.0f << -1.0f << 2.0f << 0.0f << 1.0f;
        QTest::newRow("louder right channel") << 0.1f << -0.6f << 0.5f << 0.0f << 0.3f;
        QTest::newRow("one loud frame") << 0.0f << 0.0f << 1.0f << 0.4f << 0.4f;
    }
    void gainIsAppliedAndThePeakReported() {
        QFETCH(float, left);
        QFETCH(float, right);
        QFETCH(float, gain);
        QFETCH(float, spike);
        QFETCH(float, peak);
        AudioTrack track(newPath());
        PcmBuffer buffer = test::stereoBuffer(100, left, right);
        buffer.channel(0)[7] += spike;
        QCOMPARE(track.append(buffer, 0.0, gain), peak);
        QCOMPARE(track.receivedFrames(), 100);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QVERIFY(allEqual(samples.left, 8, 100, left * gain));
        QVERIFY(allEqual(samples.right, 0, 100, right * gain));
        QCOMPARE(samples.left[7], (left + spike) * gain);
    }

    // Silence goes out in writes of 4096, 4096 and 1808 frames: with room in the file for
    // only a little more than the first write, exactly that write lands.
    void gapIsPaddedInWritesOf4096Frames() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(100, 0.5f, 0.5f), 0.0, 1.0f);
        {
            const test::FileSizeLimit limit(kHeaderBytes + (100 + 4096 + 2000) * kBytesPerFrame);
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

    // A mono 44.1 kHz source comes out as stereo at 48 kHz, every buffer at its own frame,
    // with no holes: the tone is whole after the converter's constant delay. Working-format
    // audio right after gets a converter of its own: no delay, written sample for sample.
    void monoAt44kIsWrittenAsStereoAt48kAndANewFormatRebuildsTheConverter() {
        const PcmFormat mono{44100.0, 1, SampleFormat::float32, false};
        AudioTrack track(newPath());
        for (int index = 0; index < 100; ++index) {
            track.append(test::toneBuffer(mono, index * 441, 441, 1000.0), index * 0.01, 1.0f);
            QCOMPARE(track.position(), (index + 1) * 480);
        }
        QCOMPARE(*track.inputFormat(), mono);
        QCOMPARE(track.receivedFrames(), 48000);
        PcmBuffer stereo = test::stereoBuffer(480, 0.0f, 0.0f);
        for (std::size_t i = 0; i < 480; ++i) {
            stereo.channel(0)[i] = static_cast<float>(i) / 480.0f;
            stereo.channel(1)[i] = -static_cast<float>(i) / 480.0f;
        }
        track.append(stereo, 1.0, 1.0f);
        QCOMPARE(*track.inputFormat(), kWorkingFormat);
        QCOMPARE(track.position(), 48480);
        track.close();

        auto samples = test::readTrackFile(track.path());
        for (std::size_t i = 0; i < 480; ++i) {
            QCOMPARE(samples.left[48000 + i], static_cast<float>(i) / 480.0f);
            QCOMPARE(samples.right[48000 + i], -static_cast<float>(i) / 480.0f);
        }
        samples.left.resize(48000);
        samples.right.resize(48000);
        QVERIFY(samples.left == samples.right);
        const qint64 latency = SampleConverter(mono).latencyFrames();
        const double error = test::largestToneError(samples.left, latency + 200, latency, 1000.0);
        QVERIFY2(error < 1e-3, qPrintable(QStringLiteral("largest error %1").arg(error)));
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
            const test::FileSizeLimit limit(kHeaderBytes + 1500 * kBytesPerFrame);
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

    void closedOrDestroyedTrackLeavesACompleteFileAndTakesNoMoreAudio() {
        const QString path = newPath();
        {
            AudioTrack destroyed(path);
            destroyed.append(test::stereoBuffer(300, 0.5f, 0.5f), 0.0, 1.0f);
        }
        QVERIFY(CafReader(path).isComplete());
        QCOMPARE(CafReader(path).length(), 300);

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
};

KIVO_TEST_CLASS(AudioTrackTest)
#include "AudioTrackTest.moc"
