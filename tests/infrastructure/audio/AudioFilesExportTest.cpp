#include "AudioTestSupport.h"
#include "TestMain.h"

#include "domain/AudioOutputFormat.h"
#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioFileWriter.h"
#include "infrastructure/audio/AudioFiles.h"

#include "support/DecodedAudio.h"
#include "support/Mp4Boxes.h"
#include "support/SignalAnalysis.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace kivo;
using namespace kivo::test;

namespace {

using Stereo = StereoSamples;

QString extensionFor(AudioOutputFormat format) {
    return format == AudioOutputFormat::aac ? QStringLiteral(".m4a") : QStringLiteral(".wav");
}

DecodedAudio decode(const QString& path, AudioOutputFormat format) {
    return format == AudioOutputFormat::aac ? decodeWithFfmpeg(path) : readWithSndfile(path);
}

// Runs a tool of FFmpeg (a test dependency) and returns what it printed.
QByteArray runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, QStringList{QStringLiteral("-v"), QStringLiteral("error")} + arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return {};
    }
    return process.readAllStandardOutput();
}

} // namespace

class AudioFilesExportTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    int m_counter = 0;

    QString newPath(const QString& extension) {
        return m_folder.filePath(QStringLiteral("file%1%2").arg(++m_counter).arg(extension));
    }
    QString newTrack(const Stereo& audio) {
        const QString track = newPath(QStringLiteral(".caf"));
        writeTrackFile(track, audio);
        return track;
    }
    // Exports the tracks to a new file of `format` and returns its path.
    QString exported(const QList<Stereo>& tracks, qint64 frames, AudioOutputFormat format,
                     bool highQuality) {
        QStringList paths;
        for (const Stereo& track : tracks) {
            paths << newTrack(track);
        }
        const QString destination = newPath(extensionFor(format));
        AudioFiles::exportTracks(paths, destination, frames, format, highQuality);
        return destination;
    }

    static void addFormatRows() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<bool>("highQuality");
        QTest::newRow("aac 128 kbit/s") << AudioOutputFormat::aac << false;
        QTest::newRow("aac 256 kbit/s") << AudioOutputFormat::aac << true;
        QTest::newRow("wav 16-bit") << AudioOutputFormat::wav << false;
        QTest::newRow("wav 24-bit") << AudioOutputFormat::wav << true;
    }
    static void addQualityRows() {
        QTest::addColumn<bool>("highQuality");
        QTest::addColumn<qint64>("bitRate");
        QTest::newRow("128 kbit/s") << false << qint64{128000};
        QTest::newRow("256 kbit/s") << true << qint64{256000};
    }

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }

    void mixesTracksFrameByFrameWithSilenceAfterAShortTrack_data() { addFormatRows(); }
    void mixesTracksFrameByFrameWithSilenceAfterAShortTrack() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 2 * 48000 + 77;
        // System: 1000 Hz for one second, quieter on the right. Microphone: 3000 Hz from 0.5 s to
        // 1.5 s. Both tracks end before the recording does.
        Stereo system = silentSamples(48000);
        Stereo microphone = silentSamples(72000);
        Stereo sum = silentSamples(frames);
        for (Stereo* audio : {&system, &sum}) {
            addTone(audio->left, 1000.0, 0.25, 0, 48000);
            addTone(audio->right, 1000.0, 0.125, 0, 48000);
        }
        for (Stereo* audio : {&microphone, &sum}) {
            addTone(audio->left, 3000.0, 0.25, 24000, 72000);
            addTone(audio->right, 3000.0, 0.25, 24000, 72000);
        }

        const DecodedAudio decoded =
            decode(exported({system, microphone}, frames, format, highQuality), format);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), frames);

        struct Expectation {
            qint64 from, to;
            double systemLeft, systemRight, microphone;
        };
        const Expectation expectations[] = {
            {4800, 19200, 0.25, 0.125, 0.0},   // system alone
            {28800, 43200, 0.25, 0.125, 0.25}, // both
            {52800, 67200, 0.0, 0.0, 0.25},    // microphone alone, the system track has ended
        };
        const double tolerance = format == AudioOutputFormat::aac ? 0.02 : 0.001;
        for (const auto& e : expectations) {
            const auto left = window(decoded.left, e.from, e.to);
            const auto right = window(decoded.right, e.from, e.to);
            QVERIFY(std::abs(toneAmplitude(left, 1000.0) - e.systemLeft) < tolerance);
            QVERIFY(std::abs(toneAmplitude(right, 1000.0) - e.systemRight) < tolerance);
            QVERIFY(std::abs(toneAmplitude(left, 3000.0) - e.microphone) < tolerance);
            QVERIFY(std::abs(toneAmplitude(right, 3000.0) - e.microphone) < tolerance);
            QVERIFY(toneAmplitude(left, 2000.0) < 0.005);
        }
        // After both tracks have ended the file is silent to its last frame.
        QVERIFY(peakLevel(window(decoded.left, 76800, frames)) < 0.001f);
        QVERIFY(peakLevel(window(decoded.right, 76800, frames)) < 0.001f);

        if (format == AudioOutputFormat::wav) {
            // Integer samples: every frame equals the sum within one quantisation step.
            const float step = highQuality ? 1.0f / 8388608.0f : 1.0f / 32768.0f;
            for (qint64 i = 0; i < frames; ++i) {
                if (std::abs(decoded.left[i] - sum.left[i]) > step ||
                    std::abs(decoded.right[i] - sum.right[i]) > step) {
                    QFAIL(qPrintable(QStringLiteral("frame %1 differs").arg(i)));
                }
            }
        }
    }

    void exportedLengthIsTheFrameCount_data() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<qint64>("frames");
        for (const qint64 frames : {1, 512, 513, 1024, 1025, 4097, 10000, 48001}) {
            QTest::addRow("aac %lld", static_cast<long long>(frames))
                << AudioOutputFormat::aac << frames;
        }
        for (const qint64 frames : {1, 1023, 4096, 4097}) {
            QTest::addRow("wav %lld", static_cast<long long>(frames))
                << AudioOutputFormat::wav << frames;
        }
    }
    void exportedLengthIsTheFrameCount() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(qint64, frames);
        // The track is longer than the recording: what lies beyond the frame count is left out.
        // The left channel is loud from its first frame.
        Stereo track = toneTrack(60000, 440.0, 660.0, 0.3);
        std::fill(track.left.begin(), track.left.end(), 0.5f);

        const DecodedAudio decoded = decode(exported({track}, frames, format, false), format);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QVERIFY(peakLevel(window(decoded.left, 0, frames)) > 0.1f);
        if (format == AudioOutputFormat::aac) {
            QCOMPARE(decoded.declaredFrames, frames);
        }
        // Up to half an encoder frame, FFmpeg (which ignores an edit's end) shows the AAC audio
        // followed by the encoder's padding rather than losing it; beyond, exactly the frames.
        const bool padded = format == AudioOutputFormat::aac && frames <= 512;
        QCOMPARE(padded ? std::min(decoded.frames(), frames) : decoded.frames(), frames);
    }

    void aacKeepsTheAudioInPlace_data() { addQualityRows(); }
    void aacKeepsTheAudioInPlace() {
        QFETCH(bool, highQuality);
        // A rising sweep: unlike a steady tone it matches itself at one lag only.
        constexpr qint64 frames = 48000 + 333;
        Stereo track = silentSamples(frames);
        for (qint64 i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kTestSampleRate;
            track.left[i] = static_cast<float>(
                0.5 * std::sin(2.0 * std::numbers::pi * (200.0 + 1900.0 * t) * t));
            track.right[i] = -track.left[i];
        }

        const DecodedAudio decoded =
            decodeWithFfmpeg(exported({track}, frames, AudioOutputFormat::aac, highQuality));
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), frames);
        QCOMPARE(bestLag(decoded.left, track.left, 2000, frames - 2000, 2048), qint64{0});
        QCOMPARE(bestLag(decoded.right, track.right, 2000, frames - 2000, 2048), qint64{0});
        QVERIFY(correlationAt(decoded.left, track.left, 2000, frames - 2000, 0) > 0.99);
        // The last frames are audio, not the encoder's padding.
        QVERIFY(correlationAt(decoded.left, track.left, frames - 500, frames, 0) > 0.9);
    }

    // The file is laid out as players expect, at the bit rate asked for, and FFmpeg's
    // command-line tools describe it as written and decode exactly its frames.
    void aacFileIsFileTypeThenMediaDataThenMovie_data() { addQualityRows(); }
    void aacFileIsFileTypeThenMediaDataThenMovie() {
        QFETCH(bool, highQuality);
        QFETCH(qint64, bitRate);
        // Noise keeps the encoder from needing fewer bits than it is given.
        constexpr qint64 frames = 4 * 48000 + 77;
        const QString destination =
            exported({noise(frames)}, frames, AudioOutputFormat::aac, highQuality);

        const Mp4File file = readMp4Boxes(destination);
        QVERIFY2(file.error.isEmpty(), qPrintable(file.error));
        QList<QByteArray> types;
        for (const Mp4Box& box : file.boxes) {
            types << box.type;
        }
        QCOMPARE(types, (QList<QByteArray>{"ftyp", "mdat", "moov"}));

        const QByteArray fileType = file.boxes[0].payload;
        QCOMPARE(fileType.left(4), QByteArray("M4A ")); // then the compatible brands
        for (const char* brand : {"M4A ", "mp42", "isom"}) {
            QVERIFY(fileType.mid(8).contains(brand));
        }

        const Mp4Box& mediaData = file.boxes[1];
        const Mp4Box& movie = file.boxes[2];
        const auto payloadOf = [&](const char* path) {
            const Mp4Box* box = movie.find(path);
            return box != nullptr ? box->payload : QByteArray();
        };

        // Movie and track last exactly the frames exported, in samples.
        Mp4FieldReader movieHeader(payloadOf("mvhd"));
        movieHeader.skip(12);
        QCOMPARE(movieHeader.u32(), 48000u);
        QCOMPARE(qint64{movieHeader.u32()}, frames);
        Mp4FieldReader trackHeader(payloadOf("trak/tkhd"));
        QCOMPARE(trackHeader.u32(), 7u); // enabled, in the movie, in the preview
        trackHeader.skip(8);
        trackHeader.skip(8);
        QCOMPARE(qint64{trackHeader.u32()}, frames);
        trackHeader.skip(8 + 2 + 2);
        QCOMPARE(trackHeader.u16(), quint16{0x0100}); // volume 1.0

        Mp4FieldReader edit(payloadOf("trak/edts/elst"));
        edit.skip(4);
        QCOMPARE(edit.u32(), 1u); // one edit
        QCOMPARE(qint64{edit.u32()}, frames);
        const qint64 skipped = edit.u32();
        QCOMPARE(edit.u32(), 0x00010000u); // rate 1.0
        // The encoder delay, and less than an encoder frame of silence before the audio.
        QVERIFY2(skipped >= 1024 && skipped < 2048, qPrintable(QString::number(skipped)));

        Mp4FieldReader mediaHeader(payloadOf("trak/mdia/mdhd"));
        mediaHeader.skip(12);
        QCOMPARE(mediaHeader.u32(), 48000u);
        const qint64 mediaDuration = mediaHeader.u32();
        QCOMPARE(payloadOf("trak/mdia/hdlr").mid(8, 4), QByteArray("soun"));
        QVERIFY(movie.find("trak/mdia/minf/smhd") != nullptr);
        QVERIFY(movie.find("trak/mdia/minf/dinf/dref/url ") != nullptr);

        // The sample entry: 2 channels at 48 000 Hz, AAC-LC by its AudioSpecificConfig.
        Mp4FieldReader entry(payloadOf("trak/mdia/minf/stbl/stsd/mp4a"));
        entry.skip(16);
        QCOMPARE(entry.u16(), quint16{2});
        entry.skip(6);
        QCOMPARE(entry.u32(), 48000u << 16);
        Mp4FieldReader descriptors(payloadOf("trak/mdia/minf/stbl/stsd/mp4a/esds"));
        quint8 tag = 0;
        descriptors.skip(4);
        descriptors.descriptor(tag);
        QCOMPARE(tag, quint8{0x03});
        descriptors.skip(3); // ES_ID, flags
        descriptors.descriptor(tag);
        QCOMPARE(tag, quint8{0x04});
        QCOMPARE(descriptors.u8(), quint8{0x40}); // MPEG-4 audio
        QCOMPARE(descriptors.u8() >> 2, 5);       // audio stream
        const quint32 bufferSize = descriptors.u24();
        const quint32 maximumBitRate = descriptors.u32();
        const quint32 averageBitRate = descriptors.u32();
        const quint32 configLength = descriptors.descriptor(tag);
        QCOMPARE(tag, quint8{0x05});
        const QByteArray config = descriptors.bytes(configLength);
        QVERIFY(config.size() >= 2);
        const auto configBits = static_cast<quint16>((static_cast<quint8>(config[0]) << 8) |
                                                     static_cast<quint8>(config[1]));
        QCOMPARE(configBits >> 11, 2);        // AAC LC
        QCOMPARE((configBits >> 7) & 0xF, 3); // 48 000 Hz
        QCOMPARE((configBits >> 3) & 0xF, 2); // left and right

        // Sample tables: the packets' durations end exactly with the edit and their sizes fill
        // the media data (where the chunks lie shows in every decoded test).
        Mp4FieldReader times(payloadOf("trak/mdia/minf/stbl/stts"));
        times.skip(4);
        qint64 packets = 0;
        qint64 samples = 0;
        for (quint32 runs = times.u32(); runs > 0; --runs) {
            const qint64 count = times.u32();
            packets += count;
            samples += count * times.u32();
        }
        QVERIFY(times.ok());
        QCOMPARE(samples, mediaDuration);
        QCOMPARE(skipped + frames, mediaDuration);

        Mp4FieldReader sizes(payloadOf("trak/mdia/minf/stbl/stsz"));
        sizes.skip(4);
        QCOMPARE(sizes.u32(), 0u);
        QCOMPARE(qint64{sizes.u32()}, packets);
        qint64 dataSize = 0;
        qint64 largestPacket = 0;
        for (qint64 i = 0; i < packets; ++i) {
            const qint64 size = sizes.u32();
            dataSize += size;
            largestPacket = std::max(largestPacket, size);
        }
        QVERIFY(sizes.ok());
        QCOMPARE(dataSize, mediaData.size - mediaData.headerSize);
        QCOMPARE(qint64{bufferSize}, largestPacket);
        const double dataBitRate =
            static_cast<double>(dataSize) * 8.0 * 48000.0 / static_cast<double>(mediaDuration);
        QVERIFY(std::abs(averageBitRate - dataBitRate) <= 1.0);
        QVERIFY(maximumBitRate >= averageBitRate);

        const QByteArray pcm =
            runTool(QStringLiteral("ffmpeg"),
                    {QStringLiteral("-nostdin"), QStringLiteral("-i"), destination,
                     QStringLiteral("-f"), QStringLiteral("f32le"), QStringLiteral("-")});
        QCOMPARE(pcm.size(), frames * 2 * qint64{sizeof(float)});

        const QJsonObject probe =
            QJsonDocument::fromJson(
                runTool(QStringLiteral("ffprobe"),
                        {QStringLiteral("-print_format"), QStringLiteral("json"),
                         QStringLiteral("-show_streams"), QStringLiteral("-show_format"),
                         destination}))
                .object();
        const QJsonArray streams = probe[QStringLiteral("streams")].toArray();
        QCOMPARE(streams.size(), 1);
        QCOMPARE(streams[0][QStringLiteral("duration_ts")].toInteger(), frames);
        // The stream's bit rate as the file states it, and the file's from its size.
        for (const QJsonValue& object : {streams[0], probe[QStringLiteral("format")]}) {
            const qint64 rate = object[QStringLiteral("bit_rate")].toString().toLongLong();
            QVERIFY2(std::abs(rate - bitRate) < bitRate / 10, qPrintable(QString::number(rate)));
        }
    }

    void aacThatMayPassFourGibibytesHasA64BitMediaDataSize() {
        // Twenty hours of AAC at its largest packets would pass 4 GiB, so the media data box
        // gets a 64-bit size before the first packet; the file is read like any other.
        constexpr qint64 frames = 10 * 1024;
        const Stereo audio = toneTrack(frames, 1000.0, 1000.0, 0.5);
        const QString destination = newPath(QStringLiteral(".m4a"));
        const auto writer = AudioFileWriter::create(destination, AudioOutputFormat::aac, false,
                                                    20LL * 3600 * 48000);
        writer->write(audio.left.data(), audio.right.data(), frames);
        writer->finish();

        const Mp4File file = readMp4Boxes(destination);
        QVERIFY2(file.error.isEmpty(), qPrintable(file.error));
        QCOMPARE(file.boxes[1].type, QByteArray("mdat"));
        QCOMPARE(file.boxes[1].headerSize, 16);
        const DecodedAudio decoded = decodeWithFfmpeg(destination);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), frames);
        QVERIFY(std::abs(toneAmplitude(window(decoded.left, 2048, frames - 2048), 1000.0) - 0.5) <
                0.02);
    }

    // The sum of two full-scale tracks reaches ±2.0; unclipped, it would decode with a peak near
    // 2.0. (WAV shows the clipping sample by sample below.)
    void aacClipsTheSumOfTwoFullScaleTracks_data() { addQualityRows(); }
    void aacClipsTheSumOfTwoFullScaleTracks() {
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 24000;
        const Stereo track = toneTrack(frames, 1000.0, 1000.0, 1.0);
        Stereo odd = silentSamples(frames);
        odd.left[100] = std::numeric_limits<float>::quiet_NaN();
        odd.right[200] = std::numeric_limits<float>::infinity();

        const DecodedAudio decoded = decodeWithFfmpeg(
            exported({track, track, odd}, frames, AudioOutputFormat::aac, highQuality));
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), frames);
        QVERIFY(peakLevel(decoded.left) > 0.9f);
        QVERIFY(peakLevel(decoded.left) < 1.25f);
        QVERIFY(peakLevel(decoded.right) < 1.25f);
    }

    void wavMapsFullScaleOntoTheWholeIntegerRange_data() {
        QTest::addColumn<bool>("highQuality");
        QTest::addColumn<int>("bits");
        QTest::newRow("16-bit") << false << 16;
        QTest::newRow("24-bit") << true << 24;
    }
    void wavMapsFullScaleOntoTheWholeIntegerRange() {
        QFETCH(bool, highQuality);
        QFETCH(int, bits);
        // Beyond ±1.0 is clipped, not a number is silence, infinities are full scale.
        const float inf = std::numeric_limits<float>::infinity();
        const std::vector<float> samples{-1.0f, 1.0f,  0.5f,          -0.5f, 0.0f, 1.5f,
                                         -1.5f, 0.25f, std::nanf(""), inf,   -inf};
        Stereo track{samples, {}};
        for (const float sample : samples) {
            track.right.push_back(-sample);
        }

        const WavContents contents = readWavBytes(exported(
            {track}, static_cast<qint64>(samples.size()), AudioOutputFormat::wav, highQuality));
        QVERIFY2(contents.error.isEmpty(), qPrintable(contents.error));
        QCOMPARE(contents.formatTag, 1); // integer PCM
        QCOMPARE(contents.channels, 2);
        QCOMPARE(contents.sampleRate, 48000);
        QCOMPARE(contents.bitsPerSample, bits);
        const qint32 top = (1 << (bits - 1)) - 1;
        const qint32 bottom = -(1 << (bits - 1));
        const qint32 half = 1 << (bits - 2);
        std::vector<qint32> expected;
        for (const qint32 value :
             {bottom, top, half, -half, 0, top, bottom, half / 2, 0, top, bottom}) {
            // Interleaved: left, then right (the negated sample; −1.0 negated is 1.0 → top).
            expected.push_back(value);
            expected.push_back(value == bottom ? top : (value == top ? bottom : -value));
        }
        QCOMPARE(contents.samples, expected);
    }

    // A track that is missing or no track file, opened before the destination is created; a
    // destination in a missing folder, or on a full disk (every write to /dev/full fails).
    void fileThatCannotBeReadOrWrittenThrowsPlatformError_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<bool>("highQuality");
        const auto aac = AudioOutputFormat::aac;
        const auto wav = AudioOutputFormat::wav;
        QTest::newRow("missing first track") << QStringLiteral("first") << aac << false;
        QTest::newRow("missing second track") << QStringLiteral("second") << wav << false;
        QTest::newRow("track not a caf file") << QStringLiteral("text") << aac << false;
        QTest::newRow("aac 128 kbit/s, missing folder") << QStringLiteral("folder") << aac << false;
        QTest::newRow("wav 24-bit, missing folder") << QStringLiteral("folder") << wav << true;
        QTest::newRow("aac 256 kbit/s, full disk") << QStringLiteral("full") << aac << true;
        QTest::newRow("wav 16-bit, full disk") << QStringLiteral("full") << wav << false;
    }
    void fileThatCannotBeReadOrWrittenThrowsPlatformError() {
        QFETCH(QString, fault);
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 480000;
        const Stereo audio = toneTrack(frames, 1000.0, 0.0, 0.5);
        QStringList tracks{newTrack(audio), newTrack(audio)};
        QString destination = newPath(extensionFor(format));
        if (fault == QStringLiteral("first") || fault == QStringLiteral("second")) {
            tracks[fault == QStringLiteral("second") ? 1 : 0] = newPath(QStringLiteral(".caf"));
        } else if (fault == QStringLiteral("text")) {
            tracks[0] = newPath(QStringLiteral(".caf"));
            QFile text(tracks[0]);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write(QByteArray(4096, 'x'));
        } else if (fault == QStringLiteral("full")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), destination));
        } else {
            destination =
                m_folder.filePath(QStringLiteral("missing-folder/out")) + extensionFor(format);
        }

        try {
            AudioFiles::exportTracks(tracks, destination, frames, format, highQuality);
            QFAIL("the export succeeded");
        } catch (const PlatformError& error) {
            if (fault == QStringLiteral("folder")) {
                QVERIFY2(error.description().contains(destination + QStringLiteral("：")),
                         qPrintable(error.description()));
            }
        }
        if (fault != QStringLiteral("folder") && fault != QStringLiteral("full")) {
            QVERIFY(!QFile::exists(destination));
        }
    }

    void nothingToExportThrowsKivoError_data() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<bool>("withTrack");
        QTest::newRow("aac, no frames") << AudioOutputFormat::aac << qint64{0} << true;
        QTest::newRow("wav, negative frames") << AudioOutputFormat::wav << qint64{-48000} << true;
        QTest::newRow("aac, no tracks") << AudioOutputFormat::aac << qint64{48000} << false;
        QTest::newRow("wav, no tracks") << AudioOutputFormat::wav << qint64{48000} << false;
    }
    void nothingToExportThrowsKivoError() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(qint64, frames);
        QFETCH(bool, withTrack);
        const QStringList tracks =
            withTrack ? QStringList{newTrack(silentSamples(4800))} : QStringList{};
        const QString destination = newPath(extensionFor(format));

        try {
            AudioFiles::exportTracks(tracks, destination, frames, format, false);
            QFAIL("the export succeeded");
        } catch (const KivoError& error) {
            QCOMPARE(error.text(), QStringLiteral("沒有收到可保存的音訊。請確認來源與錄音權限。"));
        }
        QVERIFY(!QFile::exists(destination));
    }
};

KIVO_TEST_CLASS(AudioFilesExportTest)
#include "AudioFilesExportTest.moc"
