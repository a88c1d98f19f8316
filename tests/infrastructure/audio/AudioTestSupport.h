#pragma once

// Buffers and read-back helpers shared by the audio tests.

#include "infrastructure/audio/CafFile.h"
#include "infrastructure/audio/PcmBuffer.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include <sys/resource.h>

namespace kivo::test {

// Both channels of a track file.
struct StereoSamples {
    std::vector<float> left;
    std::vector<float> right;
};

inline StereoSamples readTrackFile(const QString& path) {
    CafReader reader(path);
    StereoSamples samples;
    samples.left.resize(static_cast<std::size_t>(reader.length()));
    samples.right.resize(static_cast<std::size_t>(reader.length()));
    qint64 done = 0;
    while (const qint64 got =
               reader.read(samples.left.data() + done, samples.right.data() + done, 1000)) {
        done += got;
    }
    samples.left.resize(static_cast<std::size_t>(done));
    samples.right.resize(static_cast<std::size_t>(done));
    return samples;
}

// A working-format buffer of `frames` frames with constant channel values.
inline PcmBuffer stereoBuffer(qint64 frames, float left, float right) {
    PcmBuffer buffer(kWorkingFormat, frames);
    for (qint64 i = 0; i < frames; ++i) {
        buffer.channel(0)[static_cast<std::size_t>(i)] = left;
        buffer.channel(1)[static_cast<std::size_t>(i)] = right;
    }
    buffer.setFrameLength(frames);
    return buffer;
}

// sin(2π · hz · frame / rate) · amplitude.
inline float tone(double hz, double rate, qint64 frame, double amplitude = 0.5) {
    return static_cast<float>(
        amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(frame) / rate));
}

// The largest difference of `samples` from `from` on to a 48 kHz tone delayed by `latency`.
inline double largestToneError(const std::vector<float>& samples, qint64 from, qint64 latency,
                               double hz) {
    double largest = 0.0;
    for (qint64 n = from; n < static_cast<qint64>(samples.size()); ++n) {
        const double expected = tone(hz, 48000.0, n - latency);
        largest = std::max(largest, std::fabs(samples[static_cast<std::size_t>(n)] - expected));
    }
    return largest;
}

// A planar float buffer of `format` (mono or more channels) holding a tone from `firstFrame`.
inline PcmBuffer toneBuffer(PcmFormat format, qint64 firstFrame, qint64 frames, double hz) {
    PcmBuffer buffer(format, frames);
    for (int channel = 0; channel < format.channels; ++channel) {
        auto* samples = reinterpret_cast<float*>(buffer.plane(channel));
        for (qint64 i = 0; i < frames; ++i) {
            samples[i] = tone(hz, format.sampleRate, firstFrame + i);
        }
    }
    buffer.setFrameLength(frames);
    return buffer;
}

// Both channels silent for `frames` frames.
inline StereoSamples silentSamples(qint64 frames) {
    return {std::vector<float>(static_cast<std::size_t>(frames)),
            std::vector<float>(static_cast<std::size_t>(frames))};
}

// Adds a 48 kHz tone of `amplitude` to the frames `from`…`to` − 1 of one channel.
inline void addTone(std::vector<float>& channel, double hz, double amplitude, qint64 from,
                    qint64 to) {
    for (qint64 i = from; i < to; ++i) {
        channel[static_cast<std::size_t>(i)] += tone(hz, 48000.0, i, amplitude);
    }
}

// Both channels of a 48 kHz tone, the right one at `rightHz`.
inline StereoSamples toneTrack(qint64 frames, double leftHz, double rightHz, double amplitude) {
    StereoSamples audio = silentSamples(frames);
    addTone(audio.left, leftHz, amplitude, 0, frames);
    addTone(audio.right, rightHz, amplitude, 0, frames);
    return audio;
}

// Both channels of uniform noise in −0.3…0.3, the same for every call.
inline StereoSamples noise(qint64 frames) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-0.3f, 0.3f);
    StereoSamples audio = silentSamples(frames);
    for (std::size_t i = 0; i < audio.left.size(); ++i) {
        audio.left[i] = value(random);
        audio.right[i] = value(random);
    }
    return audio;
}

// The samples `from`…`to` − 1.
inline std::span<const float> window(const std::vector<float>& samples, qint64 from, qint64 to) {
    return std::span<const float>(samples).subspan(static_cast<std::size_t>(from),
                                                   static_cast<std::size_t>(to - from));
}

// Writes both channels to a new, closed track file, in buffers of up to 4096 frames.
inline void writeTrackFile(const QString& path, const StereoSamples& audio) {
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

// Limits the size of files this process writes while it lives, so that writes past it fail
// with EFBIG.
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
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous{};
};

} // namespace kivo::test
