#include "AudioTestSupport.h"
#include "TestMain.h"

#include "domain/AudioOutputFormat.h"
#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioFileWriter.h"
#include "infrastructure/audio/TrackMix.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QtEndian>

#include <limits>

#include <unistd.h>

using namespace kivo;
using namespace Qt::StringLiterals;
using namespace kivo::test;

namespace {

using Stereo = StereoSamples;
constexpr auto kAac = AudioOutputFormat::aac;
constexpr auto kWav = AudioOutputFormat::wav;

// The top-level boxes of an MPEG-4 file read byte by byte: type and header size (16 for a
// 64-bit size); empty unless the boxes fill the file exactly.
QList<std::pair<QByteArray, int>> topLevelBoxes(const QString& path) {
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QList<std::pair<QByteArray, int>> boxes;
    qint64 at = 0;
    while (at + 8 <= bytes.size()) {
        qint64 size = qFromBigEndian<quint32>(bytes.constData() + at);
        const int header = size == 1 ? 16 : 8;
        if (size == 1) {
            size = static_cast<qint64>(qFromBigEndian<quint64>(bytes.constData() + at + 8));
        }
        boxes.append({bytes.mid(at + 4, 4), header});
        if (size < header) {
            return {};
        }
        at += size;
    }
    return at == bytes.size() ? boxes : QList<std::pair<QByteArray, int>>{};
}

} // namespace

class AudioFilesExportTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    int m_counter = 0;

    QString newPath(const QString& extension) {
        return m_folder.filePath(u"file%1.%2"_s.arg(++m_counter).arg(extension));
    }
    QString newTrack(const Stereo& audio) {
        const QString track = newPath(u"caf"_s);
        writeTrackFile(track, audio);
        return track;
    }
    QString exported(const QList<Stereo>& tracks, qint64 frames, AudioOutputFormat format,
                     bool highQuality, const QList<RecordingMarker>& markers = {}) {
        QStringList paths;
        for (const Stereo& track : tracks) {
            paths << newTrack(track);
        }
        const QString destination = newPath(fileExtension(format));
        AudioFiles::exportTracks(paths, destination, frames, format, highQuality, {}, markers);
        return destination;
    }
    static void addQualityRows() {
        QTest::addColumn<bool>("highQuality");
        QTest::addColumn<qint64>("bitRate");
        QTest::newRow("standard: 128 kbit/s, 16-bit") << false << qint64{128000};
        QTest::newRow("high: 256 kbit/s, 24-bit") << true << qint64{256000};
    }

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }

    void mixesTracksFrameByFrameWithSilenceAfterAShortTrack_data() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<bool>("highQuality");
        QTest::newRow("aac 128 kbit/s") << kAac << false;
        QTest::newRow("aac 256 kbit/s") << kAac << true;
        QTest::newRow("wav 16-bit") << kWav << false;
        QTest::newRow("wav 24-bit") << kWav << true;
    }
    void mixesTracksFrameByFrameWithSilenceAfterAShortTrack() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 2 * 48000 + 77;
        // System 1000 Hz for 1 s, quieter right; microphone 3000 Hz from 0.5 to 1.5 s.
        Stereo system = silentSamples(48000), microphone = silentSamples(72000);
        Stereo sum = silentSamples(frames);
        for (Stereo* audio : {&system, &sum}) {
            addTone(audio->left, 1000.0, 0.25, 0, 48000);
            addTone(audio->right, 1000.0, 0.125, 0, 48000);
        }
        for (Stereo* audio : {&microphone, &sum}) {
            addTone(audio->left, 3000.0, 0.25, 24000, 72000);
            addTone(audio->right, 3000.0, 0.25, 24000, 72000);
        }
        const Stereo decoded =
            decodeFile(exported({system, microphone}, frames, format, highQuality));
        QCOMPARE(decoded.frames(), frames);

        // System alone; both; microphone alone after the system track has ended.
        const double tolerance = format == kAac ? 0.02 : 0.001;
        for (const auto& [from, systemLeft, systemRight, mic] :
             {std::tuple{4800, 0.25, 0.125, 0.0}, std::tuple{28800, 0.25, 0.125, 0.25},
              std::tuple{52800, 0.0, 0.0, 0.25}}) {
            const auto left = window(decoded.left, from, from + 14400);
            const auto right = window(decoded.right, from, from + 14400);
            QVERIFY(std::abs(toneAmplitude(left, 1000.0) - systemLeft) < tolerance);
            QVERIFY(std::abs(toneAmplitude(right, 1000.0) - systemRight) < tolerance);
            QVERIFY(std::abs(toneAmplitude(left, 3000.0) - mic) < tolerance);
            QVERIFY(std::abs(toneAmplitude(right, 3000.0) - mic) < tolerance);
            QVERIFY(toneAmplitude(left, 2000.0) < 0.005);
        }
        // After both tracks have ended the file is silent to its last frame.
        QVERIFY(peakLevel(window(decoded.left, 76800, frames)) < 0.001f);
        QVERIFY(peakLevel(window(decoded.right, 76800, frames)) < 0.001f);
        if (format == kWav) {
            // Integer samples: every frame equals the sum within one quantisation step.
            const float step = highQuality ? 1.0f / 8388608.0f : 1.0f / 32768.0f;
            for (qint64 i = 0; i < frames; ++i) {
                QVERIFY(std::max(std::abs(decoded.left[i] - sum.left[i]),
                                 std::abs(decoded.right[i] - sum.right[i])) <= step);
            }
        }
    }

    void exportedLengthIsTheFrameCount_data() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<qint64>("frames");
        for (const qint64 frames : {1, 512, 513, 1024, 1025, 4097, 10000, 48001}) {
            QTest::addRow("aac %lld", static_cast<long long>(frames)) << kAac << frames;
        }
        for (const qint64 frames : {1, 1023, 4096, 4097}) {
            QTest::addRow("wav %lld", static_cast<long long>(frames)) << kWav << frames;
        }
    }
    void exportedLengthIsTheFrameCount() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(qint64, frames);
        // A longer track, loud on the left from its first frame: what lies beyond is left out.
        Stereo track = silentSamples(60000);
        std::fill(track.left.begin(), track.left.end(), 0.5f);
        const QString destination = exported({track}, frames, format, false);
        const Stereo decoded = decodeFile(destination);
        QVERIFY(decoded.frames() > 0);
        QVERIFY(peakLevel(window(decoded.left, 0, std::min(frames, decoded.frames()))) > 0.1f);
        QCOMPARE(probeFile(destination).value(u"duration_ts").toInteger(), frames);
        // Up to half an encoder frame, FFmpeg (which ignores an edit's end) shows the AAC audio
        // followed by the encoder's padding rather than losing it; beyond, exactly the frames.
        const bool padded = format == kAac && frames <= 512;
        QCOMPARE(padded ? std::min(decoded.frames(), frames) : decoded.frames(), frames);
    }

    // File type, then media data, then movie; AAC-LC stereo at 48 kHz lasting exactly the
    // frames, at the bit rate asked for (noise keeps the encoder from needing fewer bits).
    void aacFileIsLaidOutAsPlayersExpect_data() { addQualityRows(); }
    void aacFileIsLaidOutAsPlayersExpect() {
        QFETCH(bool, highQuality);
        QFETCH(qint64, bitRate);
        constexpr qint64 frames = 4 * 48000 + 77;
        const QString destination = exported({noise(frames)}, frames, kAac, highQuality);
        QCOMPARE(topLevelBoxes(destination),
                 (QList<std::pair<QByteArray, int>>{{"ftyp", 8}, {"mdat", 8}, {"moov", 8}}));
        QFile file(destination);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.read(12).mid(8) == "M4A ");

        const QJsonObject stream = probeFile(destination);
        QCOMPARE(stream.value(u"streamCount").toInt(), 1);
        QCOMPARE(stream.value(u"codec_name").toString(), u"aac"_s);
        QCOMPARE(stream.value(u"profile").toString(), u"LC"_s);
        QCOMPARE(stream.value(u"sample_rate").toString(), u"48000"_s);
        QCOMPARE(stream.value(u"channels").toInt(), 2);
        QCOMPARE(stream.value(u"duration_ts").toInteger(), frames);
        // The stream's bit rate as the file states it, and the file's from its size.
        for (const QJsonValue& object : {QJsonValue(stream), stream.value(u"format")}) {
            const qint64 rate = object[u"bit_rate"_s].toString().toLongLong();
            QVERIFY2(std::abs(rate - bitRate) < bitRate / 10, qPrintable(QString::number(rate)));
        }
        QCOMPARE(decodedBytes(destination).size(), frames * 2 * qint64{sizeof(float)});
    }

    // Every marker is a chapter, also past the 255 of a chapter list (a chapter track then),
    // starting where it was marked, to the millisecond, titled exactly; the audio is unchanged.
    void aacKeepsEveryMarkerAsAChapter_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("a chapter list") << 3;
        QTest::newRow("a chapter track") << 300;
        QTest::newRow("a title past 255 bytes") << -2;
    }
    void aacKeepsEveryMarkerAsAChapter() {
        QFETCH(int, count);
        constexpr qint64 frames = 10 * 48000;
        // A negative count: that many markers, the last labelled with 80 long emoji sequences.
        const bool longTitle = count < 0;
        count = std::abs(count);
        QList<RecordingMarker> markers;
        for (int i = 0; i < count; ++i) {
            markers.append({0.5 + i * 9.0 / count, u"標記 %1 🙋🏽‍♀️"_s.arg(i + 1)});
        }
        if (longTitle) {
            markers.back().label = u"👩🏽‍👩🏽‍👧🏽‍👦🏽"_s.repeated(80);
        }
        const QString destination = exported({noise(frames)}, frames, kAac, false, markers);
        const QJsonArray chapters = probeFile(destination).value(u"chapters").toArray();
        QCOMPARE(chapters.size(), count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(chapters[i][u"tags"_s][u"title"_s].toString(), markers[i].label);
            const double start = chapters[i][u"start_time"_s].toString().toDouble();
            QVERIFY2(std::abs(start - markers[i].at) < 0.001, qPrintable(QString::number(start)));
        }
        QCOMPARE(decodedBytes(destination).size(), frames * 2 * qint64{sizeof(float)});
    }

    void aacThatMayPassFourGibibytesHasA64BitMediaDataSize() {
        // Twenty hours of AAC may pass 4 GiB: the media data box gets a 64-bit size at once.
        constexpr qint64 frames = 10 * 1024;
        Stereo audio = silentSamples(frames);
        addTone(audio.left, 1000.0, 0.5, 0, frames);
        const QString destination = newPath(u"m4a"_s);
        const auto writer = AudioFileWriter::create(destination, kAac, false, 20LL * 3600 * 48000);
        writer->write(audio.left.data(), audio.right.data(), frames);
        writer->finish();

        QCOMPARE(topLevelBoxes(destination).value(1), (std::pair<QByteArray, int>{"mdat", 16}));
        const Stereo decoded = decodeFile(destination);
        QCOMPARE(decoded.frames(), frames);
        QVERIFY(std::abs(toneAmplitude(window(decoded.left, 2048, frames - 2048), 1000.0) - 0.5) <
                0.02);
    }

    // The sum of two full-scale tracks is clipped; not-a-number and infinities do no harm.
    void aacClipsTheSumOfTwoFullScaleTracks_data() { addQualityRows(); }
    void aacClipsTheSumOfTwoFullScaleTracks() {
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 24000;
        Stereo track = silentSamples(frames), odd = silentSamples(frames);
        addTone(track.left, 1000.0, 1.0, 0, frames);
        addTone(track.right, 1000.0, 1.0, 0, frames);
        odd.left[100] = std::numeric_limits<float>::quiet_NaN();
        odd.right[200] = std::numeric_limits<float>::infinity();
        const Stereo decoded = decodeFile(exported({track, track, odd}, frames, kAac, highQuality));
        QCOMPARE(decoded.frames(), frames);
        QVERIFY(peakLevel(decoded.left) > 0.9f);
        QVERIFY(peakLevel(decoded.left) < 1.25f && peakLevel(decoded.right) < 1.25f);
    }

    // Integer PCM (format tag 1) at 48 kHz. Beyond ±1.0 is clipped, not a number is silence,
    // infinities are full scale.
    void wavMapsFullScaleOntoTheWholeIntegerRange_data() { addQualityRows(); }
    void wavMapsFullScaleOntoTheWholeIntegerRange() {
        QFETCH(bool, highQuality);
        const int bits = highQuality ? 24 : 16;
        const float inf = std::numeric_limits<float>::infinity();
        const std::vector<float> samples{-1.0f, 1.0f,  0.5f,          -0.5f, 0.0f, 1.5f,
                                         -1.5f, 0.25f, std::nanf(""), inf,   -inf};
        Stereo track{samples, samples};
        std::ranges::transform(samples, track.right.begin(), std::negate<>());
        const QString path = exported({track}, qint64(samples.size()), kWav, highQuality);
        const QJsonObject stream = probeFile(path);
        QCOMPARE(stream.value(u"codec_tag").toString(), u"0x0001"_s);
        QCOMPARE(stream.value(u"channels").toInt(), 2);
        QCOMPARE(stream.value(u"sample_rate").toString(), u"48000"_s);
        QCOMPARE(stream.value(u"bits_per_sample").toInt(), bits);

        const qint32 top = (1 << (bits - 1)) - 1, bottom = -(1 << (bits - 1));
        const qint32 half = 1 << (bits - 2);
        std::vector<qint32> expected;
        for (const qint32 value :
             {bottom, top, half, -half, 0, top, bottom, half / 2, 0, top, bottom}) {
            // Left, then right (the negated sample; −1.0 negated is 1.0 → top).
            expected.push_back(value);
            expected.push_back(value == bottom ? top : (value == top ? bottom : -value));
        }
        const QByteArray bytes = decodedBytes(path, "s32le");
        std::vector<qint32> decoded(static_cast<std::size_t>(bytes.size()) / 4);
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            decoded[i] = qFromLittleEndian<qint32>(bytes.constData() + 4 * i) >> (32 - bits);
        }
        QCOMPARE(decoded, expected);
    }

    // A track that is missing or no track file, opened before the destination is created; a
    // destination in a missing folder, or on a full disk (every write to /dev/full fails).
    void fileThatCannotBeReadOrWrittenThrowsPlatformError_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<bool>("highQuality");
        QTest::newRow("missing first track") << u"first"_s << kAac << false;
        QTest::newRow("missing second track") << u"second"_s << kWav << false;
        QTest::newRow("track not a caf file") << u"text"_s << kAac << false;
        QTest::newRow("aac 128 kbit/s, missing folder") << u"folder"_s << kAac << false;
        QTest::newRow("wav 24-bit, missing folder") << u"folder"_s << kWav << true;
        QTest::newRow("aac 256 kbit/s, full disk") << u"full"_s << kAac << true;
        QTest::newRow("wav 16-bit, full disk") << u"full"_s << kWav << false;
    }
    void fileThatCannotBeReadOrWrittenThrowsPlatformError() {
        QFETCH(QString, fault);
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 480000;
        Stereo audio = silentSamples(frames);
        addTone(audio.left, 1000.0, 0.5, 0, frames);
        QStringList tracks{newTrack(audio), newTrack(audio)};
        QString destination = newPath(fileExtension(format));
        if (fault == u"first" || fault == u"second" || fault == u"text") {
            tracks[fault == u"second" ? 1 : 0] = newPath(u"caf"_s);
        }
        if (fault == u"text") {
            QFile text(tracks[0]);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write(QByteArray(4096, 'x'));
        } else if (fault == u"full") {
            QVERIFY(QFile::link(u"/dev/full"_s, destination));
        } else if (fault == u"folder") {
            destination = m_folder.filePath(u"missing/out."_s) + fileExtension(format);
        }
        QTemporaryFile terminal;
        QVERIFY(terminal.open());
        const int savedStderr = ::dup(STDERR_FILENO);
        ::dup2(terminal.handle(), STDERR_FILENO);
        const QString text = thrownText<PlatformError>(
            [&] { AudioFiles::exportTracks(tracks, destination, frames, format, highQuality); });
        ::dup2(savedStderr, STDERR_FILENO);
        ::close(savedStderr);
        // FFmpeg's notes, such as the encoder's "frames left in the queue", stay off the terminal.
        QFile printed(terminal.fileName()); // read from its start: stderr moved the offset
        QVERIFY(printed.open(QIODevice::ReadOnly));
        QCOMPARE(printed.readAll(), QByteArray());
        QVERIFY(text != u"(nothing thrown)" &&
                (fault != u"folder" || text.contains(destination + u"："_s)));
        if (fault != u"folder" && fault != u"full") {
            QVERIFY(!QFile::exists(destination));
        } else { // the common causes in the window's own language
            QVERIFY2(text.endsWith(fault == u"full" ? u"：磁碟已沒有剩餘空間"_s
                                                    : u"：檔案或資料夾不存在"_s),
                     qPrintable(text));
        }
    }

    void nothingToExportThrowsKivoError_data() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<bool>("withTrack");
        QTest::newRow("aac, no frames") << kAac << qint64{0} << true;
        QTest::newRow("wav, negative frames") << kWav << qint64{-48000} << true;
        QTest::newRow("aac, no tracks") << kAac << qint64{48000} << false;
    }
    void nothingToExportThrowsKivoError() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(qint64, frames);
        QFETCH(bool, withTrack);
        const QStringList tracks =
            withTrack ? QStringList{newTrack(silentSamples(4800))} : QStringList{};
        const QString destination = newPath(fileExtension(format));
        QCOMPARE(thrownText(
                     [&] { AudioFiles::exportTracks(tracks, destination, frames, format, false); }),
                 u"沒有收到可保存的音訊。請確認來源與錄音權限。"_s);
        QVERIFY(!QFile::exists(destination));
    }
};

KIVO_TEST_CLASS(AudioFilesExportTest)
#include "AudioFilesExportTest.moc"
