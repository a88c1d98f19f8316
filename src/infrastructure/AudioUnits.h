#pragma once

// The units of Kivo's audio, in one place. Everything Kivo captures, keeps and writes runs at one
// sample rate; times are seconds of one of two clocks, and positions are frames at that rate.

#include <QtGlobal>

#include <cmath>

namespace kivo {

// Frames per second of every stream Kivo opens, every track, mix and kept file.
inline constexpr int kSampleRateHz = 48000;
inline constexpr double kWorkingSampleRate = kSampleRateHz;

// Seconds of the monotonic host clock (HostClock::hostNow()): when audio was captured, when a
// recording was started, paused or stopped.
using HostSeconds = double;
// Seconds of a recording's timeline: host time with the pauses left out, 0 at its start.
using TimelineSeconds = double;
// A count of frames, or a position in frames from a track's or a stream's start.
using Frames = qint64;

// The length of `frames` frames, seconds.
inline constexpr double secondsOf(Frames frames) {
    return static_cast<double>(frames) / kWorkingSampleRate;
}

// The frames in `seconds`, rounded to the nearest frame with halves going away from zero (2.5
// frames become 3, −2.5 become −3). A time that is not a finite number gives 0; times beyond the
// range of a frame count are limited to it.
inline Frames framesForSeconds(double seconds) {
    if (!std::isfinite(seconds)) {
        return 0;
    }
    const double frames = std::round(seconds * kWorkingSampleRate);
    constexpr double kLimit = 9.0e18; // below the largest qint64, exactly representable
    if (frames >= kLimit) {
        return static_cast<Frames>(kLimit);
    }
    if (frames <= -kLimit) {
        return -static_cast<Frames>(kLimit);
    }
    return static_cast<Frames>(frames);
}

} // namespace kivo
