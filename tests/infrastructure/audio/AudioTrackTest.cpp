#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/audio/AudioTrack.h"
#include "infrastructure/audio/SessionExport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <bit>
#include <limits>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

constexpr double kFrame = 1.0 / 48000.0; // one frame in seconds
constexpr qint64 kHeaderBytes = 92;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool allEqual(const std::vector<float>& samples, qint64 from, qint64 to, float value) {
    return std::all_of(samples.begin() + from, samples.begin() + to,
                       [value](float sample) { return sample == value; });
}

// Five frames whose bytes differ in every position, so a byte-order or offset mistake shows.
const std::vector<float> kLeft{0.5F, -0.25F, 1.0e-3F, -1.0F, 0.123456F};
const std::vector<float> kRight{-0.75F, 0.0625F, 3.0e-7F, 1.0F, -0.654321F};

QByteArray bigEndian(std::uint64_t value, int bytes) {
    value = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&value) + 8 - bytes, bytes);
}

// A chunk with its header; `size` -1 writes the unknown size.
QByteArray chunk(const char* type, const QByteArray& body, qint64 size = -2) {
    return QByteArray(type, 4) +
           bigEndian(static_cast<std::uint64_t>(size == -2 ? body.size() : size), 8) + body;
}

QByteArray desc(bool bigEndianSamples, double rate = 48000.0, int channels = 2) {
    return chunk("desc", bigEndian(std::bit_cast<std::uint64_t>(rate), 8) + "lpcm" +
                             bigEndian(bigEndianSamples ? 1 : 3, 4) + // 1 float, 2 little-endian
                             bigEndian(4 * channels, 4) + bigEndian(1, 4) + bigEndian(channels, 4) +
                             bigEndian(32, 4));
}

QByteArray data(bool bigEndianSamples, qint64 size = -2) {
    QByteArray body = bigEndian(0, 4); // edit count
    for (std::size_t i = 0; i < kLeft.size(); ++i) {
        for (const float sample : {kLeft[i], kRight[i]}) {
            const auto bits = std::bit_cast<std::uint32_t>(sample);
            body += bigEndian(bigEndianSamples ? bits : qbswap(bits), 4);
        }
    }
    return chunk("data", body, size);
}

QByteArray caf(const QByteArray& chunks) {
    return QByteArray("caff") + bigEndian(1, 2) + bigEndian(0, 2) + chunks;
}

// Chunks a reader skips, of odd sizes so that nothing after them is aligned.
const QByteArray kFree = chunk("free", QByteArray(13, 'f'));
const QByteArray kInfo = chunk("info", bigEndian(1, 4) + QByteArray("title\0Kivo\0", 11));
const QByteArray kUuid = chunk("uuid", QByteArray(21, '\x7f'));
const QByteArray kPakt = chunk("pakt", QByteArray(24, '\0'));

} // namespace

// Track files: where buffers land, gains, failures, conversion, the CAF layouts read, and what
// a recording killed while it writes leaves behind.
class AudioTrackTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString newPath() { return m_dir.filePath(u"track%1.caf"_s.arg(++m_count)); }

private slots:
    // Buffer k holds left 0.25·(k + 1), right half that negated, and starts at `at[k]` seconds.
    // The file is then made of segments up to each edge: silence (−1) or buffer k's values.
    void buffersLandAtTheirStartFrames_data() {
        QTest::addColumn<QList<double>>("at");
        QTest::addColumn<QList<qint64>>("lengths");
        QTest::addColumn<QList<qint64>>("edges");
        QTest::addColumn<QList<int>>("segments");
        const auto row = [](const char* name, QList<double> at, QList<qint64> lengths,
                            QList<qint64> edges, QList<int> segments) {
            QTest::newRow(name) << at << lengths << edges << segments;
        };
        row("an empty buffer writes nothing", {1.0}, {0}, {0}, {});
        row("first at 0.5 s follows silence", {0.5}, {480}, {24000, 24480}, {-1, 0});
        row("a gap becomes silence", {0.0, 11000 * kFrame}, {1000, 1000}, {1000, 11000, 12000},
            {0, -1, 1});
        row("frames overlapping the file are dropped", {0.0, 4320 * kFrame}, {4800, 960},
            {4800, 5280}, {0, 1});
        row("buffers wholly before the end write nothing", {0.0, 0.05, 4320 * kFrame},
            {4800, 480, 480}, {4800}, {0});
        row("a start at 2.5 frames rounds to 3", {2.5 * kFrame}, {10}, {3, 13}, {-1, 0});
        row("a start at 2.4 frames rounds to 2", {2.4 * kFrame}, {10}, {2, 12}, {-1, 0});
        row("negative start counts as 0", {-0.2}, {100}, {100}, {0});
        row("not-a-number start counts as 0", {kNaN}, {100}, {100}, {0});
        row("minus infinity counts as 0", {-kInf}, {100}, {100}, {0});
        row("infinity counts as 0", {kInf}, {100}, {100}, {0});
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
            const float peak =
                track.append(test::stereoBuffer(lengths[k], value(k), -value(k) / 2), at[k], 1.0f);
            QCOMPARE(peak, track.position() > before ? value(k) : 0.0f);
        }
        QCOMPARE(track.position(), edges.last());
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QCOMPARE(samples.frames(), edges.last());
        QCOMPARE(QFileInfo(track.path()).size(), kHeaderBytes + 8 * edges.last());
        qint64 received = 0;
        for (qsizetype s = 0; s < segments.size(); ++s) {
            const qint64 from = s == 0 ? 0 : edges[s - 1];
            received += segments[s] < 0 ? 0 : edges[s] - from;
            QVERIFY(allEqual(samples.left, from, edges[s], value(segments[s])));
            QVERIFY(allEqual(samples.right, from, edges[s], -value(segments[s]) / 2));
        }
        QCOMPARE(track.receivedFrames(), received);
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
        AudioTrack track(newPath());
        PcmBuffer buffer = test::stereoBuffer(100, left, right);
        buffer.channel(0)[7] += spike;
        QTEST(track.append(buffer, 0.0, gain), "peak");
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QVERIFY(allEqual(samples.left, 8, 100, left * gain));
        QVERIFY(allEqual(samples.right, 0, 100, right * gain));
        QCOMPARE(samples.left[7], (left + spike) * gain);
    }

    // Silence goes out in writes of 4096 frames: with room for a little more than the first
    // write, exactly that write lands. A failed append leaves the counters, and the next one
    // lands in place.
    void failedWritesLeaveTheTrackWhole() {
        AudioTrack track(newPath());
        track.append(test::stereoBuffer(100, 0.5f, 0.5f), 0.0, 1.0f);
        {
            const test::FileSizeLimit limit(kHeaderBytes + (100 + 4096 + 2000) * 8);
            QVERIFY_THROWS_EXCEPTION(PlatformError, track.pad(100 + 10000));
            QCOMPARE(track.position(), 100 + 4096);
            QVERIFY_THROWS_EXCEPTION(
                PlatformError,
                track.append(test::stereoBuffer(4000, 0.5f, 0.5f), 4196 * kFrame, 1.0f));
        }
        QCOMPARE(track.position(), 100 + 4096);
        QCOMPARE(track.receivedFrames(), 100);
        track.pad(100 + 10000);
        track.append(test::stereoBuffer(100, 0.75f, 0.75f), 10100 * kFrame, 1.0f);
        track.close();
        const auto samples = test::readTrackFile(track.path());
        QCOMPARE(samples.frames(), 10200);
        QVERIFY(allEqual(samples.left, 100, 10100, 0.0f));
        QVERIFY(allEqual(samples.left, 10100, 10200, 0.75f));
    }

    // A mono 44.1 kHz source comes out as stereo at 48 kHz, every buffer at its own frame,
    // with no holes: the tone is whole after the converter's constant delay. Working-format
    // audio right after gets a converter of its own: no delay, written sample for sample.
    void monoAt44kIsWrittenAsStereoAt48kAndANewFormatRebuildsTheConverter() {
        const PcmFormat mono{44100.0, 1, SampleFormat::float32, false};
        AudioTrack track(newPath());
        for (int index = 0; index < 100; ++index) {
            const auto tone = [&](int, qint64 i) {
                return test::tone(1000.0, 44100.0, index * 441 + i);
            };
            track.append(test::filledBuffer(mono, 441, tone), index * 0.01, 1.0f);
            QCOMPARE(track.position(), (index + 1) * 480);
        }
        QCOMPARE(*track.inputFormat(), mono);
        QCOMPARE(track.receivedFrames(), 48000);
        const PcmBuffer stereo = test::filledBuffer(
            kWorkingFormat, 480, [](int, qint64 i) { return test::tone(3000.0, 48000.0, i); });
        track.append(stereo, 1.0, 1.0f);
        QCOMPARE(*track.inputFormat(), kWorkingFormat);
        QCOMPARE(track.position(), 48480);
        track.close();
        auto samples = test::readTrackFile(track.path());
        QVERIFY(std::equal(samples.left.begin() + 48000, samples.left.end(),
                           stereo.channel(0).begin()));
        samples.left.resize(48000);
        samples.right.resize(48000);
        QVERIFY(samples.left == samples.right);
        const qint64 latency = SampleConverter(mono).latencyFrames();
        QVERIFY(test::largestToneError(samples.left, latency + 200, latency, 1000.0) < 1e-3);
    }

    // A track cannot be made over an existing file; closed or destroyed, it leaves a complete
    // file and takes no more audio.
    void closedOrDestroyedTrackLeavesACompleteFileAndTakesNoMoreAudio() {
        const QString path = newPath();
        {
            AudioTrack destroyed(path);
            destroyed.append(test::stereoBuffer(300, 0.5f, 0.5f), 0.0, 1.0f);
            QVERIFY_THROWS_EXCEPTION(PlatformError, AudioTrack{path});
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
        QCOMPARE(CafReader(track.path()).length(), 100);
    }

    void readsAnyValidChunkLayoutSampleExact_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("complete"); // the data chunk carries its size
        QTest::addColumn<bool>("valid");
        const auto row = [](const char* name, const QByteArray& chunks, bool complete,
                            bool valid = true) {
            QTest::newRow(name) << caf(chunks) << complete << valid;
        };
        row("little-endian", desc(false) + data(false), true);
        row("big-endian", desc(true) + data(true), true);
        row("data before desc", data(false) + desc(false), true);
        row("big-endian data before desc, pakt between", data(true) + kPakt + desc(true), true);
        row("other chunks before and after",
            kFree + desc(false) + kInfo + data(false) + kUuid + kFree, true);
        row("unknown-size data last", kInfo + desc(false) + kFree + data(false, -1), false);
        row("refused: unknown-size data before desc", data(false, -1) + desc(false), false, false);
        row("refused: no desc", kFree + data(false) + kInfo, true, false);
    }
    void readsAnyValidChunkLayoutSampleExact() {
        QFETCH(QByteArray, file);
        QFETCH(bool, complete);
        QFETCH(bool, valid);
        QFile written(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())));
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(file) == file.size());
        written.close();
        if (!valid) {
            QVERIFY_THROWS_EXCEPTION(PlatformError, CafReader reader(written.fileName()));
            return;
        }
        QCOMPARE(CafReader(written.fileName()).isComplete(), complete);
        const test::StereoSamples samples = test::readTrackFile(written.fileName());
        QCOMPARE(samples.left, kLeft);
        QCOMPARE(samples.right, kRight);
    }

    // SIGKILL: no destructor, no close, nothing flushed by the program. The track files read
    // back with every frame appended before the kill, and the session exports.
    void killedWriterLeavesEveryAppendedFrame_data() {
        QTest::addColumn<bool>("session");
        QTest::addColumn<int>("appendsBeforeKill");
        QTest::newRow("track, after 1 append") << false << 1;
        QTest::newRow("track, after 400 appends") << false << 400;
        QTest::newRow("session writer, after 100 appends") << true << 100;
    }
    void killedWriterLeavesEveryAppendedFrame() {
        QFETCH(bool, session);
        QFETCH(int, appendsBeforeKill);
        QTemporaryDir dir;
        QString path = dir.filePath(u"system.caf"_s);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KIVO_WRITER_CHILD),
                    session
                        ? QStringList{u"session"_s, dir.filePath(u"root"_s), dir.filePath(u"out"_s)}
                        : QStringList{u"track"_s, path});
        QVERIFY(child.waitForStarted());

        QStringList lines; // the session folder first, then the frames appended so far
        const auto takeLines = [&] {
            while (child.canReadLine()) {
                lines << QString::fromUtf8(child.readLine()).trimmed();
            }
        };
        while (lines.size() < appendsBeforeKill + int(session)) {
            QVERIFY2(child.waitForReadyRead(10000), "the writer stopped reporting");
            takeLines();
        }
        child.kill();
        QVERIFY(child.waitForFinished(10000) && child.exitStatus() == QProcess::CrashExit);
        takeLines();
        const QString directory = session ? lines.first() : QString();
        const qint64 appended = lines.last().toLongLong();

        const qint64 leadIn = session ? 0 : 480;
        if (session) {
            path = directory + u"/system.caf"_s;
            QFile manifest(directory + u"/session.json"_s);
            QVERIFY(manifest.open(QIODevice::ReadOnly));
            const RecordingRecord record = SessionExport::exportSession(
                RecoveryManifest::decoded(manifest.readAll()), directory);
            QVERIFY(record.duration() * 48000.0 >= static_cast<double>(appended));
        }
        QVERIFY(session || !CafReader(path).isComplete());
        const auto samples = test::readTrackFile(path);
        QVERIFY(samples.frames() >= appended);
        for (qint64 frame = 0; frame < samples.frames(); ++frame) {
            const float left = frame < leadIn ? 0.0F : static_cast<float>(frame % 1000) / 1000.0F;
            QVERIFY(samples.left[frame] == left && samples.right[frame] == -left);
        }
    }
};

KIVO_TEST_CLASS(AudioTrackTest)
#include "AudioTrackTest.moc"
