#pragma once

// Converts PCM buffers of one input format (any rate, channel count, sample format and layout)
// to the working format: 48 000 Hz, 2 channels, float32, planar.
//
// Channels. Mono is copied to both channels. Two channels pass through unchanged (channel 0 is
// left, channel 1 is right). With more than two channels nothing is known of their layout, so
// channels 0 and 1 are taken as the front left and right and every further channel is heard in
// the middle: left = (c0 + w·(c2 + … + cN−1)) / (1 + w·(N − 2)), right likewise from c1, with
// w = 1/√2. Each output is a weighted average of the inputs, so it is never louder than the
// loudest input channel, and channels that carry the same signal keep its level.
//
// Sample rate. Input at 48 000 Hz is not resampled: it comes out frame for frame, without delay.
// Other rates go through libsoxr at its default (high) quality, whose state carries over from one
// call to the next. The resampler works in blocks and would hand back uneven amounts per call; a
// track places every call's output at the buffer's own timeline frame, so uneven amounts would
// leave holes and drop audio. The converter therefore delays its output by a fixed latency
// (`latencyFrames()`, silence at the start of the stream) and returns from every call exactly the
// frames that the input received so far stands for: after n input frames in total, the outputs
// add up to n × 48 000 ÷ rate rounded to the nearest frame.
//
// Not thread-safe: one owner (the track on the writer queue).

#include "infrastructure/audio/PcmBuffer.h"

#include <QtGlobal>

#include <array>
#include <vector>

struct soxr;

namespace kivo {

class SampleConverter {
public:
    // Throws KivoError("此音訊格式無法轉換。") when the format is invalid (a rate outside
    // kLowestRate…kHighestRate or not a number, fewer than 1 channel) or the resampler cannot
    // be made for it.
    explicit SampleConverter(PcmFormat input);
    ~SampleConverter();
    SampleConverter(const SampleConverter&) = delete;
    SampleConverter& operator=(const SampleConverter&) = delete;

    const PcmFormat& inputFormat() const { return m_input; }

    // Converts the frameLength() frames of a buffer of the input format to the working format.
    // The result holds the frames that this buffer completes (possibly 0 at the start of a
    // resampled stream); its capacity is at least outputCapacity() of the input. Throws
    // KivoError for a buffer of another format and PlatformError when the resampler fails.
    PcmBuffer convert(const PcmBuffer& input);

    // Frames by which resampled output lags its input; 0 at 48 000 Hz.
    qint64 latencyFrames() const { return m_latency; }

    // frames × 48 000 ÷ sampleRate, rounded up, plus 256 frames: the capacity of a conversion's
    // output buffer.
    static qint64 outputCapacity(qint64 frames, double sampleRate);

    // The rates converted, in frames per second. Sound servers go no higher (PulseAudio's
    // limit); far lower rates would make the resampler's delay, and the memory it needs, grow
    // without bound.
    static constexpr double kLowestRate = 1000.0;
    static constexpr double kHighestRate = 768000.0;

private:
    void decode(const PcmBuffer& input, float* left, float* right) const;
    void resample(qint64 frames);
    void measureLatency();
    void reserveFifo(qint64 frames);

    PcmFormat m_input;
    int m_mappedChannels = 2; // 1 for mono input (copied to both channels at the end)
    double m_ratio = 1.0;     // output frames per input frame

    // Resampling only.
    soxr* m_soxr = nullptr;
    std::array<std::vector<float>, 2> m_decoded; // decoded, channel-mapped input
    std::array<std::vector<float>, 2> m_fifo;    // resampled frames not yet returned
    qint64 m_fifoStart = 0;
    qint64 m_fifoEnd = 0;
    qint64 m_inputTotal = 0;  // input frames taken since construction
    qint64 m_outputTotal = 0; // output frames returned since construction
    qint64 m_latency = 0;     // output frames
};

} // namespace kivo
