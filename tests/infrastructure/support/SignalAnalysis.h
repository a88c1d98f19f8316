#pragma once

// Measurements on decoded audio for tests: the amplitude of one frequency (Goertzel over a Hann
// window), peak and RMS levels, and the lag at which a signal best matches a reference.

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

namespace kivo::test {

inline constexpr double kTestSampleRate = 48000.0;

// The amplitude of a sine of `frequency` Hz in `samples`; a full-scale sine gives 1.0.
inline double toneAmplitude(std::span<const float> samples, double frequency,
                            double sampleRate = kTestSampleRate) {
    const auto count = samples.size();
    if (count < 2) {
        return 0.0;
    }
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / sampleRate);
    double previous = 0.0;
    double beforePrevious = 0.0;
    double windowSum = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                                   static_cast<double>(count - 1));
        windowSum += window;
        const double current = window * samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / windowSum;
}

inline float peakLevel(std::span<const float> samples) {
    float peak = 0.0f;
    for (const float sample : samples) {
        peak = std::max(peak, std::abs(sample));
    }
    return peak;
}

inline double rmsLevel(std::span<const float> samples) {
    if (samples.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (const float sample : samples) {
        sum += static_cast<double>(sample) * sample;
    }
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

// Normalised correlation of `signal` shifted by `lag` frames against `reference`, over
// `reference`'s frames from `from` to `to`.
inline double correlationAt(std::span<const float> signal, std::span<const float> reference,
                            qint64 from, qint64 to, qint64 lag) {
    double product = 0.0;
    double signalEnergy = 0.0;
    double referenceEnergy = 0.0;
    for (qint64 i = from; i < to; ++i) {
        const qint64 j = i + lag;
        if (j < 0 || j >= static_cast<qint64>(signal.size())) {
            continue;
        }
        const double s = signal[static_cast<std::size_t>(j)];
        const double r = reference[static_cast<std::size_t>(i)];
        product += s * r;
        signalEnergy += s * s;
        referenceEnergy += r * r;
    }
    return signalEnergy > 0.0 && referenceEnergy > 0.0
               ? product / std::sqrt(signalEnergy * referenceEnergy)
               : 0.0;
}

// The lag within ±maxLag frames at which `signal` matches `reference` best.
inline qint64 bestLag(std::span<const float> signal, std::span<const float> reference, qint64 from,
                      qint64 to, qint64 maxLag) {
    qint64 best = 0;
    double bestCorrelation = -2.0;
    for (qint64 lag = -maxLag; lag <= maxLag; ++lag) {
        const double correlation = correlationAt(signal, reference, from, to, lag);
        if (correlation > bestCorrelation) {
            bestCorrelation = correlation;
            best = lag;
        }
    }
    return best;
}

} // namespace kivo::test
