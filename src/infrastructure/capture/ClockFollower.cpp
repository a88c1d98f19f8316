#include "infrastructure/capture/ClockFollower.h"

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

// Frames over which a new ratio is reached, so that it changes without a step.
constexpr Frames kSlewFrames = 4800;
// The same for the start and end of a shift, which must be done to the frame.
constexpr Frames kShiftSlewFrames = 48;

} // namespace

double earlyEstimateOf(std::vector<double> values) {
    const auto second = values.begin() + (values.size() > 1 ? 1 : 0);
    std::nth_element(values.begin(), second, values.end());
    return *second;
}

ClockFollower::ClockFollower() {
    restart(0.0);
}

void ClockFollower::restart(HostSeconds time) {
    m_resampler.reset();
    m_start = time;
    m_handedOn = 0;
    m_expectedOut = 0.0;
    m_correction = 0.0;
    m_shiftLeft = 0.0;
    m_integral = 0.0;
    m_lastSteer = -1.0;
    m_errors.clear();
}

void ClockFollower::push(const float* interleaved, Frames frames, const Output& output) {
    m_out.clear();
    m_resampler.process(interleaved, frames, m_out);
    deliver(output);
    m_expectedOut += static_cast<double>(frames) * (1.0 + m_correction);
    if (m_shiftLeft != 0.0) {
        const double most = secondsOf(frames) * m_catchUp;
        const double done = std::clamp(m_shiftLeft, -most, most);
        m_expectedOut += done * kWorkingSampleRate;
        m_shiftLeft -= done;
        if (std::abs(m_shiftLeft) < 1e-7) {
            m_shiftLeft = 0.0;
            applyRatio(kShiftSlewFrames);
        }
    }
}

void ClockFollower::shift(double seconds, double rate) {
    if (!std::isfinite(seconds) || !(rate > 0.0)) {
        return;
    }
    m_shiftLeft += seconds;
    m_catchUp = rate;
    applyRatio(kShiftSlewFrames);
}

void ClockFollower::applyRatio(Frames slewFrames) {
    const double catchUp = m_shiftLeft > 0.0 ? m_catchUp : m_shiftLeft < 0.0 ? -m_catchUp : 0.0;
    m_resampler.setRatio(1.0 + m_correction + catchUp, slewFrames);
}

void ClockFollower::flush(const Output& output) {
    m_out.clear();
    m_resampler.flush(m_out);
    deliver(output);
    // What follows starts a new run of the resampler, where the last one ended.
    restart(m_start + secondsOf(m_handedOn));
}

void ClockFollower::deliver(const Output& output) {
    const auto frames = static_cast<Frames>(m_out.size() / kChannels);
    if (frames <= 0) {
        return;
    }
    if (output) {
        output(AudioFragment{m_out.data(), frames, m_start + secondsOf(m_handedOn)});
    }
    m_handedOn += frames;
}

double ClockFollower::nextInputTime() const {
    return m_start + m_expectedOut / kWorkingSampleRate;
}

void ClockFollower::steer(double error, double now) {
    if (!std::isfinite(error)) {
        return;
    }
    m_errors.push_back(error);
    if (static_cast<int>(m_errors.size()) > kErrorsKept) {
        m_errors.erase(m_errors.begin());
    }
    const double filtered = earlyEstimateOf(m_errors);
    const double interval = m_lastSteer < 0.0 ? 0.0 : std::clamp(now - m_lastSteer, 0.0, 5.0);
    m_lastSteer = now;
    // Critically damped: the integral gain is a quarter of the square of the proportional one.
    const double proportional = 1.0 / kTimeConstant;
    const double integral = proportional * proportional / 4.0;
    m_integral =
        std::clamp(m_integral + integral * filtered * interval, -kMaxCorrection, kMaxCorrection);
    m_correction =
        std::clamp(proportional * filtered + m_integral, -kMaxCorrection, kMaxCorrection);
    applyRatio(kSlewFrames);
}

} // namespace kivo
