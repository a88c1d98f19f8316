#include "infrastructure/audio/PcmBuffer.h"

#include <algorithm>
#include <cstring>

namespace kivo {

int bytesPerSample(SampleFormat format) {
    switch (format) {
    case SampleFormat::float32:
    case SampleFormat::int32:
        return 4;
    case SampleFormat::int16:
        return 2;
    }
    Q_UNREACHABLE();
}

PcmBuffer::PcmBuffer(PcmFormat format, qint64 frameCapacity)
    : m_format(format)
    , m_capacity(std::max<qint64>(frameCapacity, 0)) {
    const auto planeBytes = static_cast<std::size_t>(m_capacity) *
                            static_cast<std::size_t>(m_format.bytesPerFramePerPlane());
    m_planes.resize(static_cast<std::size_t>(std::max(m_format.planeCount(), 0)),
                    std::vector<std::byte>(planeBytes));
}

void PcmBuffer::setFrameLength(qint64 frames) {
    m_length = std::clamp<qint64>(frames, 0, m_capacity);
}

std::span<float> PcmBuffer::channel(int index) {
    Q_ASSERT(m_format.sampleFormat == SampleFormat::float32 && !m_format.interleaved);
    return {reinterpret_cast<float*>(plane(index)), static_cast<std::size_t>(m_capacity)};
}

std::span<const float> PcmBuffer::channel(int index) const {
    Q_ASSERT(m_format.sampleFormat == SampleFormat::float32 && !m_format.interleaved);
    return {reinterpret_cast<const float*>(plane(index)), static_cast<std::size_t>(m_capacity)};
}

void PcmBuffer::silence(qint64 frames) {
    const auto count = static_cast<std::size_t>(std::clamp<qint64>(frames, 0, m_capacity)) *
                       static_cast<std::size_t>(m_format.bytesPerFramePerPlane());
    for (auto& plane : m_planes) {
        std::memset(plane.data(), 0, count);
    }
}

void PcmBuffer::interleaveStereo(std::vector<float>& out) const {
    Q_ASSERT(!m_format.interleaved && m_format.channels == 2 &&
             m_format.sampleFormat == SampleFormat::float32);
    out.resize(static_cast<std::size_t>(m_length * 2));
    if (m_length == 0) {
        return;
    }
    const auto left = channel(0);
    const auto right = channel(1);
    for (std::size_t i = 0; i < static_cast<std::size_t>(m_length); ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

PcmBuffer PcmBuffer::fromInterleaved(PcmFormat format, const void* data, qint64 frames) {
    Q_ASSERT(format.interleaved || format.channels == 1);
    PcmBuffer buffer(format, frames);
    const auto bytes = static_cast<std::size_t>(buffer.m_capacity) *
                       static_cast<std::size_t>(format.bytesPerFramePerPlane());
    if (bytes > 0) {
        std::memcpy(buffer.plane(0), data, bytes);
    }
    buffer.m_length = buffer.m_capacity;
    return buffer;
}

} // namespace kivo
