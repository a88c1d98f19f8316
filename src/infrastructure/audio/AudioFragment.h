#pragma once

#include "infrastructure/AudioUnits.h"

#include <functional>

namespace kivo {

// Captured audio on its way from the sound server to a track: 48 000 Hz stereo float frames,
// interleaved (left, right, left, …) as the server delivers them and as the track files keep
// them, stamped with the host time at which the first frame was captured. A view: the samples
// belong to the caller and are valid only during the call that hands the fragment on.
struct AudioFragment {
    static constexpr int kChannels = 2;

    const float* interleaved = nullptr;
    Frames frames = 0;
    HostSeconds time = 0.0;

    // The host time just after the last frame.
    HostSeconds end() const { return time + secondsOf(frames); }
    // The fragment without its first `skipped` and past its first `kept` frames.
    AudioFragment slice(Frames skipped, Frames kept) const {
        return {interleaved + skipped * kChannels, kept, time + secondsOf(skipped)};
    }
};

// Where a capture hands its fragments; it must not block (copy and return).
using FragmentHandler = std::function<void(const AudioFragment& fragment)>;

} // namespace kivo
