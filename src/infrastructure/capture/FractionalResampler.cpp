#include "infrastructure/capture/FractionalResampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace kivo {

namespace {

constexpr int kHalf = FractionalResampler::kTaps / 2;
// Kaiser window shape: about 90 dB of stop band for the interpolation error.
constexpr double kKaiserBeta = 8.6;

double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

} // namespace

FractionalResampler::FractionalResampler()
    : m_table(static_cast<std::size_t>((kPhases + 1) * kTaps * kChannels)) {
    // Tap k of phase r weighs input frame (i - kHalf + 1 + k) for the output at i + r / kPhases;
    // each coefficient is stored once per channel, so that a row lines up with interleaved input.
    const double norm = besselI0(kKaiserBeta);
    std::array<double, kTaps> row{};
    for (int r = 0; r <= kPhases; ++r) {
        const double fraction = static_cast<double>(r) / kPhases;
        double sum = 0.0;
        for (int k = 0; k < kTaps; ++k) {
            const double x = static_cast<double>(k - kHalf + 1) - fraction;
            const double sinc =
                x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            const double w = x / kHalf; // -1…1 across the taps
            const double window =
                std::abs(w) >= 1.0 ? 0.0 : besselI0(kKaiserBeta * std::sqrt(1.0 - w * w)) / norm;
            row[static_cast<std::size_t>(k)] = sinc * window;
            sum += sinc * window;
        }
        // Unity gain at 0 Hz for every phase.
        for (int k = 0; k < kTaps; ++k) {
            const auto value = static_cast<float>(row[static_cast<std::size_t>(k)] / sum);
            for (int channel = 0; channel < kChannels; ++channel) {
                m_table[static_cast<std::size_t>((r * kTaps + k) * kChannels + channel)] = value;
            }
        }
    }
    reset();
}

void FractionalResampler::reset() {
    // Input frame 0 is read with silence before it.
    m_history.assign(static_cast<std::size_t>((kHalf - 1) * kChannels), 0.0F);
    m_position = kHalf - 1;
    m_step = 1.0;
    m_targetStep = 1.0;
    m_stepChange = 0.0;
}

void FractionalResampler::setRatio(double outputPerInput, Frames slewFrames) {
    m_targetStep = 1.0 / outputPerInput;
    m_stepChange = slewFrames > 0 ? (m_targetStep - m_step) / static_cast<double>(slewFrames)
                                  : m_targetStep - m_step;
}

void FractionalResampler::process(const float* interleaved, Frames frames,
                                  std::vector<float>& out) {
    m_history.insert(m_history.end(), interleaved, interleaved + frames * kChannels);
    produce(out);
}

void FractionalResampler::flush(std::vector<float>& out) {
    // The taps of the last output frames would reach past the input: they are read between
    // their two nearest frames instead.
    const auto end = static_cast<Frames>(m_history.size() / kChannels);
    const float* x = m_history.data();
    while (m_position < static_cast<double>(end) - 1e-9) {
        const auto base = static_cast<Frames>(m_position);
        const auto next = std::min(base + 1, end - 1);
        const auto fraction = static_cast<float>(m_position - static_cast<double>(base));
        for (int channel = 0; channel < kChannels; ++channel) {
            const float from = x[base * kChannels + channel];
            out.push_back(from + fraction * (x[next * kChannels + channel] - from));
        }
        advance();
    }
    reset();
}

void FractionalResampler::advance() {
    m_position += m_step;
    if (m_stepChange != 0.0) {
        m_step += m_stepChange;
        if ((m_stepChange > 0.0) == (m_step >= m_targetStep)) {
            m_step = m_targetStep;
            m_stepChange = 0.0;
        }
    }
}

// Makes every output frame whose taps lie within the history, then drops the history no later
// output frame needs.
void FractionalResampler::produce(std::vector<float>& out) {
    const auto inputEnd = static_cast<Frames>(m_history.size() / kChannels);
    const float* x = m_history.data();
    for (;;) {
        const auto base = static_cast<Frames>(m_position);
        if (base + kHalf >= inputEnd) {
            break;
        }
        // The nearest tabulated phase: at most half of 1 / kPhases of a frame off.
        const auto row =
            static_cast<std::ptrdiff_t>((m_position - static_cast<double>(base)) * kPhases + 0.5);
        const float* weights = m_table.data() + row * kTaps * kChannels;
        const float* first = x + (base - kHalf + 1) * kChannels;
        // Four running sums, left and right twice over, that the compiler keeps in one vector.
        float sums[4] = {0.0F, 0.0F, 0.0F, 0.0F};
        for (int i = 0; i < kTaps * kChannels; i += 4) {
            sums[0] += weights[i] * first[i];
            sums[1] += weights[i + 1] * first[i + 1];
            sums[2] += weights[i + 2] * first[i + 2];
            sums[3] += weights[i + 3] * first[i + 3];
        }
        const float left = sums[0] + sums[2];
        const float right = sums[1] + sums[3];
        out.push_back(left);
        out.push_back(right);
        advance();
    }
    // Keep kHalf - 1 frames before the next output frame's base, and what follows.
    const auto keepFrom =
        std::clamp<Frames>(static_cast<Frames>(m_position) - kHalf + 1, 0, inputEnd);
    if (keepFrom > 0) {
        m_history.erase(m_history.begin(), m_history.begin() + keepFrom * kChannels);
        m_position -= static_cast<double>(keepFrom);
    }
}

} // namespace kivo
