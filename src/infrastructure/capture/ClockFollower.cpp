#include "infrastructure/capture/ClockFollower.h"

#include "infrastructure/PlatformError.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

// The resampler is made for ratios up to this; the correction stays far below.
constexpr double kLargestRatio = 1.01;
// Frames over which a new ratio is reached, so that it changes without a step.
constexpr std::size_t kSlewFrames = 4800;

} // namespace

double medianOf(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

void ClockFollower::Deleter::operator()(soxr* resampler) const {
    soxr_delete(resampler);
}

ClockFollower::ClockFollower() {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_VR);
    m_resampler.reset(soxr_create(kLargestRatio, 1.0, kChannels, &error, &io, &quality, nullptr));
    if (error != nullptr || !m_resampler) {
        throw PlatformError(QStringLiteral("無法建立重新取樣器：") + QString::fromUtf8(error));
    }
    restart(0.0);
}

ClockFollower::~ClockFollower() = default;

void ClockFollower::restart(HostSeconds time) {
    soxr_clear(m_resampler.get());
    soxr_set_io_ratio(m_resampler.get(), 1.0, 0);
    m_start = time;
    m_handedOn = 0;
    m_expectedOut = 0.0;
    m_correction = 0.0;
    m_integral = 0.0;
    m_lastSteer = -1.0;
    m_errors.clear();
}

void ClockFollower::push(const float* interleaved, Frames frames, const Output& output) {
    qint64 done = 0;
    while (done < frames) {
        const auto room = static_cast<std::size_t>(frames - done) * 2 + 256;
        m_out.resize(room * kChannels);
        std::size_t used = 0;
        std::size_t made = 0;
        soxr_process(m_resampler.get(), interleaved + done * kChannels,
                     static_cast<std::size_t>(frames - done), &used, m_out.data(), room, &made);
        done += static_cast<qint64>(used);
        handOn(static_cast<qint64>(made), output);
        if (used == 0 && made == 0) {
            break; // cannot happen with room for twice the input; never spin
        }
    }
    m_expectedOut += static_cast<double>(frames) * (1.0 + m_correction);
}

void ClockFollower::flush(const Output& output) {
    const std::size_t room = 8192;
    m_out.resize(room * kChannels);
    for (;;) {
        std::size_t made = 0;
        soxr_process(m_resampler.get(), nullptr, 0, nullptr, m_out.data(), room, &made);
        if (made == 0) {
            break;
        }
        handOn(static_cast<qint64>(made), output);
    }
    // What follows starts a new run of the resampler, where the last one ended.
    restart(m_start + secondsOf(m_handedOn));
}

void ClockFollower::handOn(qint64 frames, const Output& output) {
    if (frames <= 0) {
        return;
    }
    if (output) {
        output(m_out.data(), frames, m_start + secondsOf(m_handedOn));
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
    const double filtered = medianOf(m_errors);
    const double interval = m_lastSteer < 0.0 ? 0.0 : std::clamp(now - m_lastSteer, 0.0, 5.0);
    m_lastSteer = now;
    // Critically damped: the integral gain is a quarter of the square of the proportional one.
    const double proportional = 1.0 / kTimeConstant;
    const double integral = proportional * proportional / 4.0;
    m_integral =
        std::clamp(m_integral + integral * filtered * interval, -kMaxCorrection, kMaxCorrection);
    m_correction =
        std::clamp(proportional * filtered + m_integral, -kMaxCorrection, kMaxCorrection);
    soxr_set_io_ratio(m_resampler.get(), 1.0 / (1.0 + m_correction), kSlewFrames);
}

} // namespace kivo
