#pragma once

// PCM audio of any sample rate and channel count, as float32, int16 or int32 samples, planar
// (one plane per channel) or interleaved (one plane holding every channel). The working format
// of tracks, the mixer and the export is 48 000 Hz, 2 channels, float32, planar.

#include "infrastructure/AudioUnits.h"

#include <QtGlobal>

#include <cstddef>
#include <span>
#include <vector>

namespace kivo {

enum class SampleFormat { float32, int16, int32 };

int bytesPerSample(SampleFormat format);

struct PcmFormat {
    double sampleRate = 0.0; // frames per second
    int channels = 0;
    SampleFormat sampleFormat = SampleFormat::float32;
    bool interleaved = false;

    bool operator==(const PcmFormat&) const = default;

    int planeCount() const { return interleaved ? 1 : channels; }
    // Bytes of one frame within one plane.
    int bytesPerFramePerPlane() const {
        return bytesPerSample(sampleFormat) * (interleaved ? channels : 1);
    }
    bool isValid() const { return sampleRate > 0.0 && channels > 0; }
};

// 48 000 Hz, 2 channels, float32, planar: channel 0 is left, channel 1 is right.
inline constexpr PcmFormat kWorkingFormat{kWorkingSampleRate, 2, SampleFormat::float32, false};

class PcmBuffer {
public:
    PcmBuffer() = default;
    // Zero-filled planes for `frameCapacity` frames; the frame length starts at 0.
    PcmBuffer(PcmFormat format, qint64 frameCapacity);

    const PcmFormat& format() const noexcept { return m_format; }
    qint64 frameCapacity() const noexcept { return m_capacity; }
    qint64 frameLength() const noexcept { return m_length; }
    // Clamped to 0…frameCapacity().
    void setFrameLength(qint64 frames);

    int planeCount() const noexcept { return static_cast<int>(m_planes.size()); }
    std::byte* plane(int index) { return m_planes[static_cast<std::size_t>(index)].data(); }
    const std::byte* plane(int index) const {
        return m_planes[static_cast<std::size_t>(index)].data();
    }

    // The samples of one channel of a planar float32 buffer, for the whole capacity.
    std::span<float> channel(int index);
    std::span<const float> channel(int index) const;

    // A planar float32 buffer whose frames up to `frames` are 0.
    void silence(qint64 frames);

    // The frames of a planar float32 stereo buffer, interleaved (left, right, …), into `out`.
    void interleaveStereo(std::vector<float>& out) const;

    // A copy of `frames` frames of interleaved data in `format` (which must be interleaved).
    static PcmBuffer fromInterleaved(PcmFormat format, const void* data, qint64 frames);

private:
    PcmFormat m_format;
    qint64 m_capacity = 0;
    qint64 m_length = 0;
    std::vector<std::vector<std::byte>> m_planes;
};

} // namespace kivo
