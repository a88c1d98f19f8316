#pragma once

// The one clock of capture: seconds of CLOCK_MONOTONIC (std::chrono::steady_clock) as a double.
// Buffer stamps, activation, pause, resume and finish times all come from it.

#include <chrono>

namespace kivo {

// Seconds of the monotonic clock, now. Any thread.
inline double hostNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace kivo
