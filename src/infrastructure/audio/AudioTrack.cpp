#include "infrastructure/audio/AudioTrack.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/WorkingFormat.h"

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

// out = gain × in; returns the largest magnitude written. Kept apart from append() so that the
// running maximum stays in a register.
float applyGain(const float* in, float* out, qint64 count, float gain) {
    float largest = 0.0f;
    for (qint64 i = 0; i < count; ++i) {
        out[i] = gain * in[i];
        const float magnitude = std::fabs(out[i]);
        largest = magnitude > largest ? magnitude : largest;
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

float AudioTrack::append(const PcmBuffer& buffer, double at, float gain) {
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

    PcmBuffer gained(kWorkingFormat, count);
    float peak = 0.0f;
    for (int channel = 0; channel < 2; ++channel) {
        const float* in = converted.channel(channel).data() + skip;
        float* out = gained.channel(channel).data();
        peak = std::max(peak, applyGain(in, out, count, gain));
    }
    gained.setFrameLength(count);

    m_file->write(gained);
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
