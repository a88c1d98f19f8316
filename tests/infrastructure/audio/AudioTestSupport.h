#pragma once

// Buffers, track files, decoded exports and measurements shared by the audio and capture tests.

#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/audio/CafReader.h"
#include "infrastructure/audio/CafWriter.h"
#include "infrastructure/audio/PcmBuffer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <future>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

namespace kivo::test {

// Both channels of a track or a decoded file.
struct StereoSamples {
    std::vector<float> left;
    std::vector<float> right;
    qint64 frames() const { return static_cast<qint64>(left.size()); }
};

inline StereoSamples silentSamples(qint64 frames) {
    return {std::vector<float>(static_cast<std::size_t>(frames)),
            std::vector<float>(static_cast<std::size_t>(frames))};
}

inline StereoSamples readTrackFile(const QString& path) {
    CafReader reader(path);
    StereoSamples samples = silentSamples(reader.length());
    for (qint64 done = 0;
         qint64 got = reader.read(&samples.left[done], &samples.right[done], 1000);) {
        done += got;
    }
    return samples;
}

// Both channels of uniform noise in −0.3…0.3, the same for every call.
inline StereoSamples noise(qint64 frames) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-0.3F, 0.3F);
    StereoSamples audio = silentSamples(frames);
    for (std::size_t i = 0; i < audio.left.size(); ++i) {
        audio.left[i] = value(random);
        audio.right[i] = value(random);
    }
    return audio;
}

// A working-format buffer of `frames` frames with constant channel values.
inline PcmBuffer stereoBuffer(qint64 frames, float left, float right) {
    PcmBuffer buffer(kWorkingFormat, frames);
    std::fill_n(buffer.channel(0).begin(), frames, left);
    std::fill_n(buffer.channel(1).begin(), frames, right);
    buffer.setFrameLength(frames);
    return buffer;
}

// sin(2π · hz · frame / rate) · amplitude.
inline float tone(double hz, double rate, qint64 frame, double amplitude = 0.5) {
    return static_cast<float>(
        amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(frame) / rate));
}

// Adds a 48 kHz tone of `amplitude` to the frames `from`…`to` − 1 of one channel.
inline void addTone(std::vector<float>& channel, double hz, double amplitude, qint64 from,
                    qint64 to) {
    for (qint64 i = from; i < to; ++i) {
        channel[static_cast<std::size_t>(i)] += tone(hz, 48000.0, i, amplitude);
    }
}

// The largest difference of `samples` from `from` on to a 48 kHz tone delayed by `latency`.
inline double largestToneError(const std::vector<float>& samples, qint64 from, qint64 latency,
                               double hz) {
    double largest = 0.0;
    for (qint64 n = from; n < qint64(samples.size()); ++n) {
        largest = std::max<double>(largest, std::fabs(samples[n] - tone(hz, 48000.0, n - latency)));
    }
    return largest;
}

// A buffer of `format` whose sample (channel, frame) is `value(channel, frame)`; integer
// formats store it times 2^15 or 2^31.
inline PcmBuffer filledBuffer(PcmFormat format, qint64 frames, const auto& value) {
    PcmBuffer buffer(format, frames);
    const int size = bytesPerSample(format.sampleFormat);
    for (int channel = 0; channel < format.channels; ++channel) {
        for (qint64 i = 0; i < frames; ++i) {
            const double sample = value(channel, i);
            std::byte* at = format.interleaved
                                ? buffer.plane(0) + (i * format.channels + channel) * size
                                : buffer.plane(channel) + i * size;
            const auto f = static_cast<float>(sample);
            const auto s16 = static_cast<qint16>(std::lround(sample * 32768.0));
            const auto s32 = static_cast<qint32>(std::llround(sample * 2147483648.0));
            const bool int32 = format.sampleFormat == SampleFormat::int32;
            const void* from = int32 ? static_cast<const void*>(&s32) : &f;
            std::memcpy(at, size == 2 ? &s16 : from, std::size_t(size));
        }
    }
    buffer.setFrameLength(frames);
    return buffer;
}

// The samples `from`…`to` − 1.
inline std::span<const float> window(const std::vector<float>& samples, qint64 from, qint64 to) {
    return std::span<const float>(samples).subspan(static_cast<std::size_t>(from),
                                                   static_cast<std::size_t>(to - from));
}

inline float peakLevel(std::span<const float> samples) {
    return samples.empty() ? 0.0F : std::abs(*std::ranges::max_element(samples, {}, ::fabsf));
}

// The amplitude of a sine of `hz` in 48 kHz `samples` (Goertzel over a Hann window); a
// full-scale sine gives 1.0.
inline double toneAmplitude(std::span<const float> samples, double hz) {
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / 48000.0);
    double previous = 0.0, beforePrevious = 0.0, windowSum = 0.0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double hann =
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) /
                                 double(std::max<std::size_t>(samples.size(), 2) - 1));
        windowSum += hann;
        const double current = hann * samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    return windowSum > 0 ? 2.0 * std::sqrt(std::max(power, 0.0)) / windowSum : 0.0;
}

// Writes both channels to a new, closed track file, in buffers of up to 4096 frames.
inline void writeTrackFile(const QString& path, const StereoSamples& audio) {
    CafWriter writer(path);
    for (qint64 done = 0; done < audio.frames();) {
        const qint64 count = std::min<qint64>(4096, audio.frames() - done);
        PcmBuffer buffer(kWorkingFormat, count);
        std::copy_n(audio.left.begin() + done, count, buffer.channel(0).begin());
        std::copy_n(audio.right.begin() + done, count, buffer.channel(1).begin());
        buffer.setFrameLength(count);
        writer.write(buffer);
        done += count;
    }
    writer.close();
}

// Runs one of FFmpeg's command-line tools (a test dependency); what it printed, or nothing.
inline QByteArray runFfmpegTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, QStringLiteral("-v error").split(u' ') + arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return {};
    }
    return process.readAllStandardOutput();
}

// An exported file decoded by FFmpeg as a player decodes it (the encoder delay skipped), as
// interleaved stereo samples of `sampleFormat` ("f32le" or "s32le").
inline QByteArray decodedBytes(const QString& path, const char* sampleFormat = "f32le") {
    return runFfmpegTool(
        QStringLiteral("ffmpeg"),
        QStringList{QStringLiteral("-nostdin"), QStringLiteral("-i"), path} +
            QStringLiteral("-ac 2 -f %1 -").arg(QLatin1String(sampleFormat)).split(u' '));
}

inline StereoSamples decodeFile(const QString& path) {
    const QByteArray bytes = decodedBytes(path);
    StereoSamples samples = silentSamples(bytes.size() / 8);
    for (qint64 i = 0; i < samples.frames(); ++i) {
        std::memcpy(&samples.left[i], bytes.constData() + 8 * i, 4);
        std::memcpy(&samples.right[i], bytes.constData() + 8 * i + 4, 4);
    }
    return samples;
}

// What ffprobe says of the file's audio stream; its "format" member holds the container's.
inline QJsonObject probeFile(const QString& path) {
    const QJsonObject probe =
        QJsonDocument::fromJson(
            runFfmpegTool(
                QStringLiteral("ffprobe"),
                QStringLiteral("-print_format json -show_streams -show_format -show_chapters")
                        .split(u' ')
                    << path))
            .object();
    QJsonObject stream = probe.value(u"streams").toArray().at(0).toObject();
    stream.insert(u"format", probe.value(u"format"));
    stream.insert(u"chapters", probe.value(u"chapters"));
    stream.insert(u"streamCount", probe.value(u"streams").toArray().size());
    return stream;
}

// Limits the size of files this process writes while it lives, so that writes past it fail
// with EFBIG as on a full disk.
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

// The permission bits of a file or folder (0700…), or -1 when it cannot be read.
inline int permissionsOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Sets the process's umask while it lives.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask)
        : m_previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_previous;
};

// Finishes the recording at host time `at` and waits for the result.
inline Result<RecordingRecord> finishAndWait(AudioRecordingWriter& writer, double at) {
    std::promise<Result<RecordingRecord>> promise;
    writer.finish(at, [&promise](Result<RecordingRecord> result) { promise.set_value(result); });
    return promise.get_future().get();
}

} // namespace kivo::test
