#include "infrastructure/audio/AudioTrack.h"

#include "domain/KivoError.h"
#include "infrastructure/AudioUnits.h"
#include "infrastructure/PlatformError.h"

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

// Copies `frames` interleaved frames times `gain` into `out` (the samples themselves at a gain of
// 1); returns the largest magnitude. Kept apart so that the running maximum stays in a register.
float copyWithGain(const float* in, float* out, qint64 frames, float gain) {
    float largest = 0.0f;
    for (qint64 i = 0; i < frames * 2; ++i) {
        const float v = gain * in[i];
        out[i] = v;
        largest = std::max(largest, std::fabs(v));
    }
    return largest;
}

float largestOf(const float* in, qint64 frames) {
    float largest = 0.0f;
    for (qint64 i = 0; i < frames * 2; ++i) {
        largest = std::max(largest, std::fabs(in[i]));
    }
    return largest;
}

} // namespace

AudioTrack::AudioTrack(const QString& path)
    : m_path(path)
    , m_file(std::make_unique<CafWriter>(path)) {}

AudioTrack::~AudioTrack() {
    try {
        close();
    } catch (const PlatformError&) {
        // A destructor cannot report; the writer closes its tracks itself to see failures.
    }
}

float AudioTrack::append(const PcmBuffer& buffer, TimelineSeconds at, float gain) {
    if (buffer.frameLength() <= 0 || isClosed()) {
        return 0.0f;
    }

    if (!m_inputFormat || buffer.format() != *m_inputFormat) {
        // Frames still held by the previous converter are dropped with it.
        m_inputFormat = buffer.format();
        m_converter.reset();
        // Buffers already in the working format are used as they are.
        if (buffer.format() != kWorkingFormat) {
            try {
                m_converter = std::make_unique<SampleConverter>(buffer.format());
            } catch (const KivoError&) {
                // Left without a converter: this and later buffers of the format are refused.
            }
        }
    }
    const bool working = buffer.format() == kWorkingFormat;
    if (!working && !m_converter) {
        throw KivoError(QStringLiteral("此音訊格式無法轉換。"));
    }

    const PcmBuffer resampled = working ? PcmBuffer() : m_converter->convert(buffer);
    const PcmBuffer& converted = working ? buffer : resampled;
    converted.interleaveStereo(m_unpacked);
    return append(AudioFragment{m_unpacked.data(), converted.frameLength(), 0.0}, at, gain);
}

float AudioTrack::append(const AudioFragment& fragment, TimelineSeconds at, float gain) {
    if (fragment.frames <= 0 || isClosed()) {
        return 0.0f;
    }
    const qint64 start = framesForSeconds(std::isnan(at) ? 0.0 : std::max(at, 0.0));
    if (m_position < start) {
        pad(start);
    }

    // Frames that would land before the end of the file are dropped.
    const qint64 skip = std::clamp<qint64>(m_position - start, 0, fragment.frames);
    const qint64 count = fragment.frames - skip;
    if (count < 1) {
        return 0.0f;
    }
    const float* first = fragment.interleaved + skip * 2;
    float peak = 0.0f;
    if (gain == 1.0f) {
        peak = largestOf(first, count);
        m_file->writeInterleaved(first, count);
    } else {
        if (m_interleaved.size() < static_cast<std::size_t>(count * 2)) {
            m_interleaved.resize(static_cast<std::size_t>(count * 2));
        }
        peak = copyWithGain(first, m_interleaved.data(), count, gain);
        m_file->writeInterleaved(m_interleaved.data(), count);
    }
    m_position += count;
    m_receivedFrames += count;
    return std::min(peak, 1.0f);
}

void AudioTrack::pad(qint64 toFrame) {
    if (isClosed() || m_position >= toFrame) {
        return;
    }
    PcmBuffer silence(kWorkingFormat, kSilenceChunkFrames); // zero-filled
    while (m_position < toFrame) {
        silence.setFrameLength(std::min(toFrame - m_position, kSilenceChunkFrames));
        m_file->write(silence);
        m_position += silence.frameLength();
    }
}

void AudioTrack::close() {
    if (isClosed()) {
        return;
    }
    const auto file = std::move(m_file);
    m_converter.reset();
    file->close();
}

void AudioTrack::syncToDisk() {
    if (m_file) {
        m_file->syncToDisk();
    }
}

} // namespace kivo
