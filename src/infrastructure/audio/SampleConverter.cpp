#include "infrastructure/audio/SampleConverter.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kivo {

namespace {

QString cannotConvert() {
    return QStringLiteral("此音訊格式無法轉換。");
}

PlatformError resamplerError(soxr_error_t error) {
    return PlatformError(QStringLiteral("音訊取樣率轉換失敗：") + QString::fromUtf8(error));
}

template <typename T>
T load(const std::byte* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

float toFloat(float sample) {
    return sample;
}
float toFloat(qint16 sample) {
    return static_cast<float>(sample) * (1.0f / 32768.0f);
}
float toFloat(qint32 sample) {
    return static_cast<float>(sample) * (1.0f / 2147483648.0f);
}

// Decodes `frames` frames of samples of type T into one (mono) or two mapped float channels.
template <typename T>
void decodeSamples(const PcmBuffer& input, qint64 frames, float* left, float* right) {
    const PcmFormat& format = input.format();
    const int channels = format.channels;
    const auto sampleAt = [&](int channel, qint64 frame) {
        const std::byte* bytes =
            format.interleaved ? input.plane(0) + (static_cast<std::size_t>(frame) *
                                                       static_cast<std::size_t>(channels) +
                                                   static_cast<std::size_t>(channel)) *
                                                      sizeof(T)
                               : input.plane(channel) + static_cast<std::size_t>(frame) * sizeof(T);
        return toFloat(load<T>(bytes));
    };

    if (channels == 1) {
        for (qint64 i = 0; i < frames; ++i) {
            left[i] = sampleAt(0, i);
        }
    } else if (channels == 2) {
        for (qint64 i = 0; i < frames; ++i) {
            left[i] = sampleAt(0, i);
            right[i] = sampleAt(1, i);
        }
    } else {
        // Channels past the first two go to the middle at -3 dB; the sum is normalised so that
        // each side stays a weighted average of its inputs.
        const float weight = 1.0f / std::sqrt(2.0f);
        const float scale = 1.0f / (1.0f + weight * static_cast<float>(channels - 2));
        for (qint64 i = 0; i < frames; ++i) {
            float middle = 0.0f;
            for (int channel = 2; channel < channels; ++channel) {
                middle += sampleAt(channel, i);
            }
            middle *= weight;
            left[i] = (sampleAt(0, i) + middle) * scale;
            right[i] = (sampleAt(1, i) + middle) * scale;
        }
    }
}

} // namespace

SampleConverter::SampleConverter(PcmFormat input)
    : m_input(input) {
    if (!(input.sampleRate >= kLowestRate && input.sampleRate <= kHighestRate) ||
        input.channels < 1) {
        throw KivoError(cannotConvert());
    }
    m_mappedChannels = input.channels == 1 ? 1 : 2;
    m_ratio = kWorkingSampleRate / input.sampleRate;
    if (input.sampleRate == kWorkingSampleRate) {
        return;
    }

    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // Transform blocks smaller than the default halve the delay (about 10 ms instead of 21 ms
    // at 44.1 kHz) at the same quality, for about a quarter more processing time.
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 8;
    runtime.log2_large_dft_size = 10;
    m_soxr = soxr_create(input.sampleRate, kWorkingSampleRate,
                         static_cast<unsigned>(m_mappedChannels), &error, &io, &quality, &runtime);
    if (m_soxr == nullptr || error != nullptr) {
        soxr_delete(m_soxr);
        m_soxr = nullptr;
        throw KivoError(cannotConvert());
    }
    try {
        measureLatency();
    } catch (...) {
        soxr_delete(m_soxr);
        m_soxr = nullptr;
        throw KivoError(cannotConvert());
    }
}

SampleConverter::~SampleConverter() {
    soxr_delete(m_soxr);
}

qint64 SampleConverter::outputCapacity(qint64 frames, double sampleRate) {
    const double converted = std::ceil(static_cast<double>(std::max<qint64>(frames, 0)) *
                                       kWorkingSampleRate / sampleRate);
    return static_cast<qint64>(converted) + 256;
}

PcmBuffer SampleConverter::convert(const PcmBuffer& input) {
    if (input.format() != m_input) {
        throw KivoError(cannotConvert());
    }
    const qint64 frames = input.frameLength();
    const qint64 capacity = outputCapacity(frames, m_input.sampleRate);

    if (m_soxr == nullptr) {
        PcmBuffer output(kWorkingFormat, capacity);
        float* left = output.channel(0).data();
        float* right = output.channel(1).data();
        decode(input, left, right);
        if (m_mappedChannels == 1) {
            std::copy_n(left, frames, right);
        }
        output.setFrameLength(frames);
        return output;
    }

    for (auto& channel : std::span(m_decoded).first(static_cast<std::size_t>(m_mappedChannels))) {
        if (static_cast<qint64>(channel.size()) < frames) {
            channel.resize(static_cast<std::size_t>(frames));
        }
    }
    decode(input, m_decoded[0].data(), m_mappedChannels == 2 ? m_decoded[1].data() : nullptr);
    resample(frames);
    m_inputTotal += frames;

    const auto due = static_cast<qint64>(
        std::round(static_cast<double>(m_inputTotal) * kWorkingSampleRate / m_input.sampleRate));
    const qint64 count = std::max<qint64>(due - m_outputTotal, 0);
    const qint64 available = m_fifoEnd - m_fifoStart;
    // The latency is measured when the resampler is made, so the queue always holds enough.
    // Should it ever fall short, the stream is delayed further rather than drop or overlap.
    const qint64 shortfall = std::max<qint64>(count - available, 0);
    m_latency += shortfall;

    PcmBuffer output(kWorkingFormat, std::max(capacity, count));
    for (int channel = 0; channel < 2; ++channel) {
        float* out = output.channel(channel).data();
        const auto& fifo =
            m_fifo[static_cast<std::size_t>(std::min(channel, m_mappedChannels - 1))];
        std::fill_n(out, shortfall, 0.0f);
        std::copy_n(fifo.data() + m_fifoStart, count - shortfall, out + shortfall);
    }
    m_fifoStart += count - shortfall;
    m_outputTotal += count;
    output.setFrameLength(count);
    return output;
}

void SampleConverter::decode(const PcmBuffer& input, float* left, float* right) const {
    const qint64 frames = input.frameLength();
    if (frames <= 0) {
        return;
    }
    switch (m_input.sampleFormat) {
    case SampleFormat::float32:
        if (!m_input.interleaved && m_input.channels <= 2) {
            const auto bytes = static_cast<std::size_t>(frames) * sizeof(float);
            std::memcpy(left, input.plane(0), bytes);
            if (m_input.channels == 2) {
                std::memcpy(right, input.plane(1), bytes);
            }
            return;
        }
        decodeSamples<float>(input, frames, left, right);
        return;
    case SampleFormat::int16:
        decodeSamples<qint16>(input, frames, left, right);
        return;
    case SampleFormat::int32:
        decodeSamples<qint32>(input, frames, left, right);
        return;
    }
}

void SampleConverter::reserveFifo(qint64 frames) {
    const qint64 held = m_fifoEnd - m_fifoStart;
    for (auto& channel : std::span(m_fifo).first(static_cast<std::size_t>(m_mappedChannels))) {
        if (m_fifoStart > 0 && held > 0) {
            std::memmove(channel.data(), channel.data() + m_fifoStart,
                         static_cast<std::size_t>(held) * sizeof(float));
        }
        if (static_cast<qint64>(channel.size()) < held + frames) {
            channel.resize(static_cast<std::size_t>(held + frames));
        }
    }
    m_fifoStart = 0;
    m_fifoEnd = held;
}

// Feeds `frames` decoded frames to the resampler and queues all that it gives back.
void SampleConverter::resample(qint64 frames) {
    qint64 consumed = 0;
    for (;;) {
        const qint64 remaining = frames - consumed;
        const qint64 space =
            static_cast<qint64>(std::ceil(static_cast<double>(remaining) * m_ratio)) + m_latency +
            64;
        reserveFifo(space);
        const void* in[2] = {m_decoded[0].data() + consumed, nullptr};
        void* out[2] = {m_fifo[0].data() + m_fifoEnd, nullptr};
        if (m_mappedChannels == 2) {
            in[1] = m_decoded[1].data() + consumed;
            out[1] = m_fifo[1].data() + m_fifoEnd;
        }
        std::size_t used = 0;
        std::size_t produced = 0;
        const soxr_error_t error =
            soxr_process(m_soxr, in, static_cast<std::size_t>(remaining), &used, out,
                         static_cast<std::size_t>(space), &produced);
        if (error != nullptr) {
            throw resamplerError(error);
        }
        consumed += static_cast<qint64>(used);
        m_fifoEnd += static_cast<qint64>(produced);
        // Done when all input went in and the output was not cut short by the space given.
        if (consumed >= frames && static_cast<qint64>(produced) < space) {
            return;
        }
    }
}

// The resampler holds back a varying number of frames, up to a bound that depends only on its
// configuration. Running silence through it in small steps finds that bound; the queue then
// starts with that many frames of silence, so each call can return its exact share.
void SampleConverter::measureLatency() {
    const qint64 step = std::max<qint64>(1, std::llround(m_input.sampleRate / 750.0));
    const qint64 probeFrames = std::max<qint64>(std::llround(m_input.sampleRate * 0.5), 4096);
    for (auto& channel : std::span(m_decoded).first(static_cast<std::size_t>(m_mappedChannels))) {
        channel.assign(static_cast<std::size_t>(step), 0.0f);
    }
    double held = 0.0;
    for (qint64 fed = 0; fed < probeFrames; fed += step) {
        resample(step);
        held = std::max(held, soxr_delay(m_soxr));
        m_fifoStart = 0;
        m_fifoEnd = 0;
    }
    if (const soxr_error_t error = soxr_clear(m_soxr); error != nullptr) {
        throw resamplerError(error);
    }
    // Held amounts are seen only after each step; the peak may lie up to one step later.
    m_latency = static_cast<qint64>(std::ceil(held + static_cast<double>(step) * m_ratio)) + 2;
    reserveFifo(m_latency);
    for (auto& channel : std::span(m_fifo).first(static_cast<std::size_t>(m_mappedChannels))) {
        std::fill_n(channel.begin(), m_latency, 0.0f);
    }
    m_fifoEnd = m_latency;
}

} // namespace kivo
