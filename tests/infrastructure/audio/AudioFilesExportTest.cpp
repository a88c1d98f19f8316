#include "domain/AudioOutputFormat.h"
#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioFiles.h"
#include "infrastructure/audio/CafFile.h"
#include "infrastructure/audio/PcmBuffer.h"

#include "TestMain.h"
#include "support/DecodedAudio.h"
#include "support/SignalAnalysis.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>
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
        std::mt19937 random(7);
        std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
        Stereo track = silence(frames);
        for (qint64 i = 0; i < frames; ++i) {
            track.left[i] = noise(random);
            track.right[i] = noise(random);
        }
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
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<bool>("withTrack");
        QTest::newRow("no frames") << qint64{0} << true;
        QTest::newRow("negative frames") << qint64{-48000} << true;
        QTest::newRow("no tracks") << qint64{48000} << false;
    }
    void nothingToExportThrowsKivoError() {
        QFETCH(qint64, frames);
        QFETCH(bool, withTrack);
        QStringList tracks;
        if (withTrack) {
            tracks << newTrack(silence(4800));
        }
        const QString destination = newPath(QStringLiteral(".wav"));

        try {
            AudioFiles::exportTracks(tracks, destination, frames, AudioOutputFormat::wav, false);
            QFAIL("the export succeeded");
        } catch (const KivoError& error) {
            QCOMPARE(error.text(), QStringLiteral("沒有收到可保存的音訊。請確認來源與錄音權限。"));
        }
        QVERIFY(!QFile::exists(destination));
    }
};

KIVO_TEST_CLASS(AudioFilesExportTest)
#include "AudioFilesExportTest.moc"
