#include "domain/AudioOutputFormat.h"
#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioFileWriter.h"
#include "infrastructure/audio/AudioFiles.h"
#include "infrastructure/audio/CafFile.h"
#include "infrastructure/audio/PcmBuffer.h"

#include "TestMain.h"
#include "support/DecodedAudio.h"
#include "support/Mp4Boxes.h"
#include "support/SignalAnalysis.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <random>
#include <span>
#include <vector>

using namespace kivo;
using namespace kivo::test;

namespace {

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

Stereo silence(qint64 frames) {
    return {std::vector<float>(static_cast<std::size_t>(frames)),
            std::vector<float>(static_cast<std::size_t>(frames))};
}

// Adds a sine of `amplitude` to the frames `from`…`to` − 1 of one channel.
void addTone(std::vector<float>& channel, double frequency, double amplitude, qint64 from,
             qint64 to) {
    for (qint64 i = from; i < to; ++i) {
        channel[static_cast<std::size_t>(i)] +=
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency *
                                                    static_cast<double>(i) / kTestSampleRate));
    }
}

void writeTrack(const QString& path, const Stereo& audio) {
    CafWriter writer(path);
    const auto frames = static_cast<qint64>(audio.left.size());
    for (qint64 done = 0; done < frames;) {
        const qint64 count = std::min<qint64>(4096, frames - done);
        PcmBuffer buffer(kWorkingFormat, count);
        std::copy_n(audio.left.begin() + done, count, buffer.channel(0).begin());
        std::copy_n(audio.right.begin() + done, count, buffer.channel(1).begin());
        buffer.setFrameLength(count);
        writer.write(buffer);
        done += count;
    }
    writer.close();
}

QString extensionFor(AudioOutputFormat format) {
    return format == AudioOutputFormat::aac ? QStringLiteral(".m4a") : QStringLiteral(".wav");
}

DecodedAudio decode(const QString& path, AudioOutputFormat format) {
    return format == AudioOutputFormat::aac ? decodeWithFfmpeg(path) : readWithSndfile(path);
}

Stereo noise(qint64 frames) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-0.3f, 0.3f);
    Stereo audio = silence(frames);
    for (qint64 i = 0; i < frames; ++i) {
        audio.left[i] = value(random);
        audio.right[i] = value(random);
    }
    return audio;
}

std::span<const float> window(const std::vector<float>& samples, qint64 from, qint64 to) {
    return std::span<const float>(samples).subspan(static_cast<std::size_t>(from),
                                                   static_cast<std::size_t>(to - from));
}

} // namespace

class AudioFilesExportTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    int m_counter = 0;

    QString path(const QString& name) { return m_folder.filePath(name); }
    QString newPath(const QString& extension) {
        return path(QStringLiteral("file%1%2").arg(++m_counter).arg(extension));
    }
    QString newTrack(const Stereo& audio) {
        const QString track = newPath(QStringLiteral(".caf"));
        writeTrack(track, audio);
        return track;
    }

    static void addFormatColumns() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<bool>("highQuality");
    }
    static void addFormatRows() {
        addFormatColumns();
        QTest::newRow("aac 128 kbit/s") << AudioOutputFormat::aac << false;
        QTest::newRow("aac 256 kbit/s") << AudioOutputFormat::aac << true;
        QTest::newRow("wav 16-bit") << AudioOutputFormat::wav << false;
        QTest::newRow("wav 24-bit") << AudioOutputFormat::wav << true;
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
        Stereo system = silence(48000);
        addTone(system.left, 1000.0, 0.25, 0, 48000);
        addTone(system.right, 1000.0, 0.125, 0, 48000);
        Stereo microphone = silence(72000);
        addTone(microphone.left, 3000.0, 0.25, 24000, 72000);
        addTone(microphone.right, 3000.0, 0.25, 24000, 72000);
        const QString destination = newPath(extensionFor(format));

        AudioFiles::exportTracks({newTrack(system), newTrack(microphone)}, destination, frames,
                                 format, highQuality);

        const DecodedAudio decoded = decode(destination, format);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.sampleRate, 48000);
        QCOMPARE(decoded.channels, 2);
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
            Stereo expected = silence(frames);
            for (qint64 i = 0; i < 48000; ++i) {
                expected.left[i] += system.left[i];
                expected.right[i] += system.right[i];
            }
            for (qint64 i = 0; i < 72000; ++i) {
                expected.left[i] += microphone.left[i];
                expected.right[i] += microphone.right[i];
            }
            for (qint64 i = 0; i < frames; ++i) {
                if (std::abs(decoded.left[i] - expected.left[i]) > step ||
                    std::abs(decoded.right[i] - expected.right[i]) > step) {
                    QFAIL(qPrintable(QStringLiteral("frame %1 differs").arg(i)));
                }
            }
        }
    }

    void exportedLengthIsTheFrameCount_data() {
        addFormatColumns();
        QTest::addColumn<qint64>("frames");
        for (const qint64 frames : {513, 1023, 1024, 1025, 4096, 4097, 10000, 48001}) {
            QTest::addRow("aac %lld", static_cast<long long>(frames))
                << AudioOutputFormat::aac << false << frames;
        }
        for (const qint64 frames : {1, 1023, 4096, 4097, 10000}) {
            QTest::addRow("wav %lld", static_cast<long long>(frames))
                << AudioOutputFormat::wav << false << frames;
        }
    }
    void exportedLengthIsTheFrameCount() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        QFETCH(qint64, frames);
        // The track is longer than the recording: what lies beyond the frame count is left out.
        Stereo track = silence(60000);
        addTone(track.left, 440.0, 0.3, 0, 60000);
        addTone(track.right, 660.0, 0.3, 0, 60000);
        const QString destination = newPath(extensionFor(format));

        AudioFiles::exportTracks({newTrack(track)}, destination, frames, format, highQuality);

        const DecodedAudio decoded = decode(destination, format);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), frames);
        if (format == AudioOutputFormat::aac) {
            QCOMPARE(decoded.declaredFrames, frames);
        }
    }

    void aacShorterThanHalfAnEncoderFrameDeclaresItsLength_data() {
        QTest::addColumn<qint64>("frames");
        QTest::newRow("1") << qint64{1};
        QTest::newRow("300") << qint64{300};
        QTest::newRow("512") << qint64{512};
    }
    void aacShorterThanHalfAnEncoderFrameDeclaresItsLength() {
        QFETCH(qint64, frames);
        Stereo track = silence(frames);
        std::fill(track.left.begin(), track.left.end(), 0.5f);
        const QString destination = newPath(QStringLiteral(".m4a"));

        AudioFiles::exportTracks({newTrack(track)}, destination, frames, AudioOutputFormat::aac,
                                 false);

        // The edit list states the length; FFmpeg, which ignores an edit's end, shows the audio
        // followed by the encoder's padding rather than losing it.
        const DecodedAudio decoded = decodeWithFfmpeg(destination);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.declaredFrames, frames);
        QVERIFY(decoded.frames() >= frames);
        QVERIFY(peakLevel(window(decoded.left, 0, frames)) > 0.1f);
    }

    void aacKeepsTheAudioInPlace_data() {
        QTest::addColumn<bool>("highQuality");
        QTest::newRow("128 kbit/s") << false;
        QTest::newRow("256 kbit/s") << true;
    }
    void aacKeepsTheAudioInPlace() {
        QFETCH(bool, highQuality);
        // A rising sweep: unlike a steady tone it matches itself at one lag only.
        constexpr qint64 frames = 48000 + 333;
        Stereo track = silence(frames);
        for (qint64 i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / kTestSampleRate;
            const auto sample = static_cast<float>(
                0.5 * std::sin(2.0 * std::numbers::pi * (200.0 + 1900.0 * t) * t));
            track.left[i] = sample;
            track.right[i] = -sample;
        }
        const QString destination = newPath(QStringLiteral(".m4a"));

        AudioFiles::exportTracks({newTrack(track)}, destination, frames, AudioOutputFormat::aac,
                                 highQuality);

        const DecodedAudio decoded = decodeWithFfmpeg(destination);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), frames);
        QCOMPARE(bestLag(decoded.left, track.left, 2000, frames - 2000, 2048), qint64{0});
        QCOMPARE(bestLag(decoded.right, track.right, 2000, frames - 2000, 2048), qint64{0});
        QVERIFY(correlationAt(decoded.left, track.left, 2000, frames - 2000, 0) > 0.99);
        // The last frames are audio, not the encoder's padding.
        QVERIFY(correlationAt(decoded.left, track.left, frames - 500, frames, 0) > 0.9);
    }

    void ffmpegToolDecodesExactlyTheFrameCount_data() {
        QTest::addColumn<bool>("highQuality");
        QTest::newRow("128 kbit/s") << false;
        QTest::newRow("256 kbit/s") << true;
    }
    void ffmpegToolDecodesExactlyTheFrameCount() {
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 48000 + 77;
        Stereo track = silence(frames);
        addTone(track.left, 1000.0, 0.5, 0, frames);
        const QString destination = newPath(QStringLiteral(".m4a"));
        AudioFiles::exportTracks({newTrack(track)}, destination, frames, AudioOutputFormat::aac,
                                 highQuality);

        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"),
                      QStringLiteral("-i"), destination, QStringLiteral("-f"),
                      QStringLiteral("f32le"), QStringLiteral("-")});
        QVERIFY2(ffmpeg.waitForFinished(60000), "the ffmpeg tool (a test dependency) did not run");
        QCOMPARE(ffmpeg.exitCode(), 0);
        QCOMPARE(ffmpeg.readAllStandardOutput().size(), frames * 2 * qint64{sizeof(float)});
    }

    void aacFileIsFileTypeThenMediaDataThenMovie_data() {
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<bool>("highQuality");
        QTest::newRow("300 frames, one chunk") << qint64{300} << false;
        QTest::newRow("1025 frames") << qint64{1025} << false;
        QTest::newRow("3 s, several chunks") << qint64{3 * 48000 + 5} << true;
    }
    void aacFileIsFileTypeThenMediaDataThenMovie() {
        QFETCH(qint64, frames);
        QFETCH(bool, highQuality);
        Stereo track = silence(frames);
        addTone(track.left, 440.0, 0.3, 0, frames);
        addTone(track.right, 660.0, 0.3, 0, frames);
        const QString destination = newPath(QStringLiteral(".m4a"));

        AudioFiles::exportTracks({newTrack(track)}, destination, frames, AudioOutputFormat::aac,
                                 highQuality);

        const Mp4File file = readMp4Boxes(destination);
        QVERIFY2(file.error.isEmpty(), qPrintable(file.error));
        QList<QByteArray> types;
        for (const Mp4Box& box : file.boxes) {
            types << box.type;
        }
        QCOMPARE(types, (QList<QByteArray>{"ftyp", "mdat", "moov"}));

        Mp4FieldReader fileType(file.boxes[0].payload);
        QCOMPARE(fileType.bytes(4), QByteArray("M4A "));
        fileType.skip(4);
        QList<QByteArray> brands;
        while (fileType.left() >= 4) {
            brands << fileType.bytes(4);
        }
        QVERIFY(brands.contains("M4A ") && brands.contains("mp42") && brands.contains("isom"));

        const Mp4Box& mediaData = file.boxes[1];
        const Mp4Box& movie = file.boxes[2];
        QCOMPARE(std::count_if(movie.children.begin(), movie.children.end(),
                               [](const Mp4Box& box) { return box.type == "trak"; }),
                 1);
        const auto payloadOf = [&](const char* path) {
            const Mp4Box* box = movie.find(path);
            return box != nullptr ? box->payload : QByteArray();
        };

        // Movie and track last exactly the frames exported, in samples.
        Mp4FieldReader movieHeader(payloadOf("mvhd"));
        QCOMPARE(movieHeader.u32(), 0u); // version 0, no flags
        movieHeader.skip(8);
        QCOMPARE(movieHeader.u32(), 48000u);
        QCOMPARE(qint64{movieHeader.u32()}, frames);
        Mp4FieldReader trackHeader(payloadOf("trak/tkhd"));
        QCOMPARE(trackHeader.u32(), 7u); // enabled, in the movie, in the preview
        trackHeader.skip(8);
        QCOMPARE(trackHeader.u32(), 1u); // track ID
        trackHeader.skip(4);
        QCOMPARE(qint64{trackHeader.u32()}, frames);
        trackHeader.skip(8 + 2 + 2);
        QCOMPARE(trackHeader.u16(), quint16{0x0100}); // volume 1.0
        QVERIFY(trackHeader.ok());

        Mp4FieldReader edit(payloadOf("trak/edts/elst"));
        QCOMPARE(edit.u32(), 0u);
        QCOMPARE(edit.u32(), 1u); // one edit
        QCOMPARE(qint64{edit.u32()}, frames);
        const qint64 skipped = edit.u32();
        QCOMPARE(edit.u32(), 0x00010000u); // rate 1.0
        QVERIFY(edit.ok());
        // The encoder delay, and less than an encoder frame of silence before the audio.
        QVERIFY2(skipped >= 1024 && skipped < 2048, qPrintable(QString::number(skipped)));

        Mp4FieldReader mediaHeader(payloadOf("trak/mdia/mdhd"));
        QCOMPARE(mediaHeader.u32(), 0u);
        mediaHeader.skip(8);
        QCOMPARE(mediaHeader.u32(), 48000u);
        const qint64 mediaDuration = mediaHeader.u32();
        QCOMPARE(mediaHeader.u16(), quint16{0x55C4}); // "und"
        Mp4FieldReader handler(payloadOf("trak/mdia/hdlr"));
        handler.skip(8);
        QCOMPARE(handler.bytes(4), QByteArray("soun"));
        QVERIFY(movie.find("trak/mdia/minf/smhd") != nullptr);
        QVERIFY(movie.find("trak/mdia/minf/dinf/dref/url ") != nullptr);

        // The sample entry: 2 channels at 48 000 Hz, AAC-LC by its AudioSpecificConfig.
        Mp4FieldReader entry(payloadOf("trak/mdia/minf/stbl/stsd/mp4a"));
        entry.skip(6);
        QCOMPARE(entry.u16(), quint16{1}); // data reference
        entry.skip(8);
        QCOMPARE(entry.u16(), quint16{2});
        QCOMPARE(entry.u16(), quint16{16});
        entry.skip(4);
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
        QCOMPARE(descriptors.descriptor(tag), 1u);
        QCOMPARE(tag, quint8{0x06});
        QCOMPARE(descriptors.u8(), quint8{2});
        QVERIFY(descriptors.ok());

        // Sample tables: the packets' durations end exactly with the edit, their sizes fill the
        // media data, and the chunks lie back to back from its first byte to its last.
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
        std::vector<qint64> packetSizes;
        for (qint64 i = 0; i < packets; ++i) {
            packetSizes.push_back(sizes.u32());
        }
        QVERIFY(sizes.ok());
        const qint64 dataStart = mediaData.offset + mediaData.headerSize;
        const qint64 dataEnd = mediaData.offset + mediaData.size;
        QCOMPARE(std::accumulate(packetSizes.begin(), packetSizes.end(), qint64{0}),
                 dataEnd - dataStart);
        QCOMPARE(qint64{bufferSize}, *std::max_element(packetSizes.begin(), packetSizes.end()));
        const double dataBitRate = static_cast<double>(dataEnd - dataStart) * 8.0 * 48000.0 /
                                   static_cast<double>(mediaDuration);
        QVERIFY(std::abs(averageBitRate - dataBitRate) <= 1.0);
        QVERIFY(maximumBitRate >= averageBitRate);

        Mp4FieldReader chunking(payloadOf("trak/mdia/minf/stbl/stsc"));
        chunking.skip(4);
        struct ChunkRun {
            qint64 firstChunk, packets;
        };
        std::vector<ChunkRun> runs;
        for (quint32 count = chunking.u32(); count > 0; --count) {
            runs.push_back({chunking.u32(), chunking.u32()});
            QCOMPARE(chunking.u32(), 1u); // sample description
        }
        QVERIFY(chunking.ok());
        Mp4FieldReader offsets(payloadOf("trak/mdia/minf/stbl/stco"));
        offsets.skip(4);
        const quint32 chunks = offsets.u32();
        qint64 expectedOffset = dataStart;
        qint64 packet = 0;
        for (quint32 chunk = 1; chunk <= chunks; ++chunk) {
            QCOMPARE(qint64{offsets.u32()}, expectedOffset);
            qint64 inChunk = 0;
            for (const ChunkRun& run : runs) {
                if (run.firstChunk <= chunk) {
                    inChunk = run.packets;
                }
            }
            for (qint64 i = 0; i < inChunk && packet < packets; ++i, ++packet) {
                expectedOffset += packetSizes[static_cast<std::size_t>(packet)];
            }
        }
        QVERIFY(offsets.ok());
        QCOMPARE(packet, packets);
        QCOMPARE(expectedOffset, dataEnd);
    }

    void ffprobeDescribesTheAacFile_data() {
        QTest::addColumn<bool>("highQuality");
        QTest::addColumn<qint64>("bitRate");
        QTest::newRow("standard") << false << qint64{128000};
        QTest::newRow("high") << true << qint64{256000};
    }
    void ffprobeDescribesTheAacFile() {
        QFETCH(bool, highQuality);
        QFETCH(qint64, bitRate);
        constexpr qint64 frames = 4 * 48000 + 77;
        const QString destination = newPath(QStringLiteral(".m4a"));
        AudioFiles::exportTracks({newTrack(noise(frames))}, destination, frames,
                                 AudioOutputFormat::aac, highQuality);

        QProcess ffprobe;
        ffprobe.start(QStringLiteral("ffprobe"),
                      {QStringLiteral("-v"), QStringLiteral("error"),
                       QStringLiteral("-print_format"), QStringLiteral("json"),
                       QStringLiteral("-show_streams"), QStringLiteral("-show_format"),
                       destination});
        QVERIFY2(ffprobe.waitForFinished(60000),
                 "the ffprobe tool (a test dependency) did not run");
        QCOMPARE(ffprobe.exitCode(), 0);
        QCOMPARE(ffprobe.readAllStandardError(), QByteArray());
        const QJsonObject probe = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
        const QJsonArray streams = probe[QStringLiteral("streams")].toArray();
        QCOMPARE(streams.size(), 1);
        const QJsonObject stream = streams[0].toObject();
        QCOMPARE(stream[QStringLiteral("codec_name")].toString(), QStringLiteral("aac"));
        QCOMPARE(stream[QStringLiteral("profile")].toString(), QStringLiteral("LC"));
        QCOMPARE(stream[QStringLiteral("sample_rate")].toString(), QStringLiteral("48000"));
        QCOMPARE(stream[QStringLiteral("channels")].toInt(), 2);
        QCOMPARE(stream[QStringLiteral("duration_ts")].toInteger(), frames);
        const double seconds = static_cast<double>(frames) / kTestSampleRate;
        QVERIFY(std::abs(stream[QStringLiteral("duration")].toString().toDouble() - seconds) <
                1e-5);
        const qint64 streamRate = stream[QStringLiteral("bit_rate")].toString().toLongLong();
        QVERIFY2(std::abs(streamRate - bitRate) < bitRate / 10,
                 qPrintable(QString::number(streamRate)));

        const QJsonObject format = probe[QStringLiteral("format")].toObject();
        QCOMPARE(format[QStringLiteral("nb_streams")].toInt(), 1);
        QVERIFY(std::abs(format[QStringLiteral("duration")].toString().toDouble() - seconds) <
                1e-5);
        const qint64 fileRate = format[QStringLiteral("bit_rate")].toString().toLongLong();
        QVERIFY2(std::abs(fileRate - bitRate) < bitRate / 10,
                 qPrintable(QString::number(fileRate)));
        QCOMPARE(format[QStringLiteral("tags")][QStringLiteral("major_brand")].toString(),
                 QStringLiteral("M4A "));
    }

    void aacThatMayPassFourGibibytesHasA64BitMediaDataSize() {
        // Twenty hours of AAC at its largest packets would pass 4 GiB, so the media data box
        // gets a 64-bit size before the first packet; the file is read like any other.
        constexpr qint64 expected = 20LL * 3600 * 48000;
        constexpr qint64 frames = 10 * 1024;
        Stereo audio = silence(frames);
        addTone(audio.left, 1000.0, 0.5, 0, frames);
        const QString destination = newPath(QStringLiteral(".m4a"));
        const auto writer =
            AudioFileWriter::create(destination, AudioOutputFormat::aac, false, expected);
        writer->write(audio.left.data(), audio.right.data(), frames);
        writer->finish();

        const Mp4File file = readMp4Boxes(destination);
        QVERIFY2(file.error.isEmpty(), qPrintable(file.error));
        QCOMPARE(file.boxes.size(), std::size_t{3});
        QCOMPARE(file.boxes[1].type, QByteArray("mdat"));
        QCOMPARE(file.boxes[1].headerSize, 16);
        const DecodedAudio decoded = decodeWithFfmpeg(destination);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), frames);
        QVERIFY(std::abs(toneAmplitude(window(decoded.left, 2048, frames - 2048), 1000.0) - 0.5) <
                0.02);
    }

    void aacWriterFinishedWithoutAudioLeavesAnEmptyTrack() {
        // The export never does this (it refuses to export nothing); the writer still leaves a
        // well-formed file rather than one that presents the encoder's silence.
        const QString destination = newPath(QStringLiteral(".m4a"));
        const auto writer =
            AudioFileWriter::create(destination, AudioOutputFormat::aac, false, 4800);
        writer->finish();

        const Mp4File file = readMp4Boxes(destination);
        QVERIFY2(file.error.isEmpty(), qPrintable(file.error));
        QCOMPARE(file.boxes.size(), std::size_t{3});
        QCOMPARE(file.boxes[1].size, qint64{8});
        QVERIFY(file.find("moov/trak/edts") == nullptr);
        const DecodedAudio decoded = decodeWithFfmpeg(destination);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), qint64{0});
    }

    void clipsTheSumOfTwoFullScaleTracks_data() { addFormatRows(); }
    void clipsTheSumOfTwoFullScaleTracks() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 24000;
        Stereo track = silence(frames);
        addTone(track.left, 1000.0, 1.0, 0, frames);
        addTone(track.right, 1000.0, -1.0, 0, frames);
        const QString destination = newPath(extensionFor(format));

        AudioFiles::exportTracks({newTrack(track), newTrack(track)}, destination, frames, format,
                                 highQuality);

        const DecodedAudio decoded = decode(destination, format);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        if (format == AudioOutputFormat::wav) {
            // The sum reaches ±2.0; the file holds it clipped, at the ends of the integer range.
            for (qint64 i = 0; i < frames; ++i) {
                const float expected = std::clamp(2.0f * track.left[i], -1.0f, 1.0f);
                if (std::abs(decoded.left[i] - expected) > 1.0f / 32768.0f) {
                    QFAIL(qPrintable(QStringLiteral("frame %1 is not clipped").arg(i)));
                }
            }
            QCOMPARE(*std::min_element(decoded.left.begin(), decoded.left.end()), -1.0f);
            QVERIFY(*std::max_element(decoded.left.begin(), decoded.left.end()) > 0.9999f);
        } else {
            // An unclipped sum would decode with a peak near 2.0.
            QVERIFY(peakLevel(decoded.left) > 0.9f);
            QVERIFY(peakLevel(decoded.left) < 1.25f);
            QVERIFY(peakLevel(decoded.right) < 1.25f);
        }
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
        const std::vector<float> samples{-1.0f, 1.0f, 0.5f, -0.5f, 0.0f, 1.5f, -1.5f, 0.25f};
        Stereo track{samples, {}};
        for (const float sample : samples) {
            track.right.push_back(-sample);
        }
        const QString destination = newPath(QStringLiteral(".wav"));

        AudioFiles::exportTracks({newTrack(track)}, destination,
                                 static_cast<qint64>(samples.size()), AudioOutputFormat::wav,
                                 highQuality);

        const WavContents contents = readWavBytes(destination);
        QVERIFY2(contents.error.isEmpty(), qPrintable(contents.error));
        QCOMPARE(contents.formatTag, 1); // integer PCM
        QCOMPARE(contents.channels, 2);
        QCOMPARE(contents.sampleRate, 48000);
        QCOMPARE(contents.bitsPerSample, bits);
        const qint32 top = (1 << (bits - 1)) - 1;
        const qint32 bottom = -(1 << (bits - 1));
        const qint32 half = 1 << (bits - 2);
        const std::vector<qint32> left{bottom, top, half, -half, 0, top, bottom, half / 2};
        std::vector<qint32> expected;
        for (const qint32 value : left) {
            // Interleaved: left, then right (the negated sample; −1.0 negated is 1.0 → top).
            expected.push_back(value);
            expected.push_back(value == bottom ? top : (value == top ? bottom : -value));
        }
        QCOMPARE(contents.samples, expected);
    }

    void aacIsEncodedAtTheRequestedBitRate_data() {
        QTest::addColumn<bool>("highQuality");
        QTest::addColumn<qint64>("bitRate");
        QTest::newRow("standard") << false << qint64{128000};
        QTest::newRow("high") << true << qint64{256000};
    }
    void aacIsEncodedAtTheRequestedBitRate() {
        QFETCH(bool, highQuality);
        QFETCH(qint64, bitRate);
        // Noise keeps the encoder from needing fewer bits than it is given.
        constexpr qint64 frames = 4 * 48000;
        const Stereo track = noise(frames);
        const QString destination = newPath(QStringLiteral(".m4a"));

        AudioFiles::exportTracks({newTrack(track)}, destination, frames, AudioOutputFormat::aac,
                                 highQuality);

        const DecodedAudio decoded = decodeWithFfmpeg(destination);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.codec, QStringLiteral("aac"));
        QVERIFY2(std::abs(decoded.bitRate - bitRate) < bitRate / 10,
                 qPrintable(QString::number(decoded.bitRate)));
        const double seconds = static_cast<double>(frames) / kTestSampleRate;
        const double fileRate = static_cast<double>(QFileInfo(destination).size()) * 8.0 / seconds;
        QVERIFY2(std::abs(fileRate - static_cast<double>(bitRate)) <
                     static_cast<double>(bitRate) * 0.1,
                 qPrintable(QString::number(fileRate)));
    }

    void samplesThatAreNotNumbersBecomeSilence_data() { addFormatRows(); }
    void samplesThatAreNotNumbersBecomeSilence() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        constexpr qint64 frames = 4800;
        Stereo track = silence(frames);
        addTone(track.left, 1000.0, 0.5, 0, frames);
        track.left[100] = std::numeric_limits<float>::quiet_NaN();
        track.right[200] = std::numeric_limits<float>::infinity();
        track.right[201] = -std::numeric_limits<float>::infinity();
        const QString destination = newPath(extensionFor(format));

        AudioFiles::exportTracks({newTrack(track)}, destination, frames, format, highQuality);

        const DecodedAudio decoded = decode(destination, format);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.frames(), frames);
        if (format == AudioOutputFormat::wav) {
            QCOMPARE(decoded.left[100], 0.0f);
            QVERIFY(decoded.right[200] > 0.9999f);
            QCOMPARE(decoded.right[201], -1.0f);
        }
    }

    void trackThatCannotBeOpenedThrowsPlatformError_data() {
        QTest::addColumn<int>("broken");
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing first track") << 0 << false;
        QTest::newRow("missing second track") << 1 << false;
        QTest::newRow("not a caf file") << 0 << true;
    }
    void trackThatCannotBeOpenedThrowsPlatformError() {
        QFETCH(int, broken);
        QFETCH(bool, exists);
        Stereo audio = silence(4800);
        addTone(audio.left, 1000.0, 0.5, 0, 4800);
        QStringList tracks{newTrack(audio), newTrack(audio)};
        tracks[broken] = newPath(QStringLiteral(".caf"));
        if (exists) {
            QFile text(tracks[broken]);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write(QByteArray(4096, 'x'));
        }
        const QString destination = newPath(QStringLiteral(".m4a"));

        QVERIFY_THROWS_EXCEPTION(
            PlatformError,
            AudioFiles::exportTracks(tracks, destination, 4800, AudioOutputFormat::aac, false));
        // The tracks are opened before the destination is created.
        QVERIFY(!QFile::exists(destination));
    }

    void destinationThatCannotBeCreatedThrowsPlatformError_data() { addFormatRows(); }
    void destinationThatCannotBeCreatedThrowsPlatformError() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        Stereo audio = silence(4800);
        const QString destination =
            path(QStringLiteral("missing-folder/out")) + extensionFor(format);

        try {
            AudioFiles::exportTracks({newTrack(audio)}, destination, 4800, format, highQuality);
            QFAIL("the export succeeded");
        } catch (const PlatformError& error) {
            QVERIFY2(error.description().contains(destination), qPrintable(error.description()));
            QVERIFY(error.description().contains(QStringLiteral("：")));
        }
    }

    void fullDiskThrowsPlatformError_data() { addFormatRows(); }
    void fullDiskThrowsPlatformError() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(bool, highQuality);
        // Every write to /dev/full fails with "no space left on device".
        const QString destination = newPath(extensionFor(format));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), destination));
        Stereo audio = silence(480000);
        addTone(audio.left, 1000.0, 0.5, 0, 480000);

        QVERIFY_THROWS_EXCEPTION(
            PlatformError,
            AudioFiles::exportTracks({newTrack(audio)}, destination, 480000, format, highQuality));
    }

    void nothingToExportThrowsKivoError_data() {
        QTest::addColumn<AudioOutputFormat>("format");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<bool>("withTrack");
        for (const AudioOutputFormat format : {AudioOutputFormat::aac, AudioOutputFormat::wav}) {
            const char* name = format == AudioOutputFormat::aac ? "aac" : "wav";
            QTest::addRow("%s, no frames", name) << format << qint64{0} << true;
            QTest::addRow("%s, negative frames", name) << format << qint64{-48000} << true;
            QTest::addRow("%s, no tracks", name) << format << qint64{48000} << false;
        }
    }
    void nothingToExportThrowsKivoError() {
        QFETCH(AudioOutputFormat, format);
        QFETCH(qint64, frames);
        QFETCH(bool, withTrack);
        QStringList tracks;
        if (withTrack) {
            tracks << newTrack(silence(4800));
        }
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
