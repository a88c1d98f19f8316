#pragma once

// Frame arithmetic of the working format: every frame count and position of the tracks, the
// session writer and the export is in frames of 48 000 Hz.

#include "infrastructure/audio/PcmBuffer.h"

#include <QtGlobal>

#include <cmath>

namespace kivo {

// seconds × 48 000, rounded to the nearest frame with halves going away from zero (2.5 frames
// become 3, −2.5 become −3). A time that is not a finite number gives 0; times beyond the range
// of a frame count are limited to it.
inline qint64 framesForSeconds(double seconds) {
    if (!std::isfinite(seconds)) {
        return 0;
    }
    const double frames = std::round(seconds * kWorkingSampleRate);
    constexpr double kLimit = 9.0e18; // below the largest qint64, exactly representable
    if (frames >= kLimit) {
        return static_cast<qint64>(kLimit);
    }
    if (frames <= -kLimit) {
        return -static_cast<qint64>(kLimit);
    }
    return static_cast<qint64>(frames);
}

} // namespace kivo
