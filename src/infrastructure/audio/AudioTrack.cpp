#include "infrastructure/audio/AudioTrack.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/WorkingFormat.h"

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

// Interleaves `left` and `right` into `out`, times `gain`; returns the largest magnitude
// written. Kept apart from append() so that the running maximum stays in a register.
float interleaveWithGain(const float* left, const float* right, float* out, qint64 frames,
                         float gain) {
    float largest = 0.0f;
    for (qint64 i = 0; i < frames; ++i) {
        const float l = gain * left[i];
        const float r = gain * right[i];
        out[2 * i] = l;
        out[2 * i + 1] = r;
        largest = std::max(largest, std::max(std::fabs(l), std::fabs(r)));
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
        // Buffers already in the working format (all that the capture delivers) are used as
        // they are: converting them would only copy them.
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
    const qint64 convertedFrames = converted.frameLength();
    if (convertedFrames == 0) {
        return 0.0f;
    }

    const qint64 start = framesForSeconds(std::isnan(at) ? 0.0 : std::max(at, 0.0));
    if (m_position < start) {
        pad(start);
    }

    // Frames that would land before the end of the file are dropped.
    const qint64 skip = std::clamp<qint64>(m_position - start, 0, convertedFrames);
    const qint64 count = convertedFrames - skip;
    if (count < 1) {
        return 0.0f;
    }

    // The file's layout is made here, with the gain, in one pass.
    if (m_interleaved.size() < static_cast<std::size_t>(count * 2)) {
        m_interleaved.resize(static_cast<std::size_t>(count * 2));
    }
    const float peak =
        interleaveWithGain(converted.channel(0).data() + skip, converted.channel(1).data() + skip,
                           m_interleaved.data(), count, gain);
    m_file->writeInterleaved(m_interleaved.data(), count);
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
