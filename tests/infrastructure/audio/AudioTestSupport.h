#pragma once

// Buffers and read-back helpers shared by the audio tests.

#include "infrastructure/audio/CafFile.h"
#include "infrastructure/audio/PcmBuffer.h"

#include <QString>

#include <cmath>
#include <numbers>
#include <vector>

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

} // namespace kivo::test
