#pragma once

// Resamples interleaved stereo float audio by a ratio within a fraction of a percent of 1, a
// ratio that may change at any moment. Each output frame is the input read at a fractional
// position through a windowed-sinc interpolator (kTaps taps, tabulated for kPhases positions
// between two frames, the nearest taken); at a ratio of exactly 1 the input comes out unchanged.
// The output is aligned with the input: output frame 0 is input frame 0, and flush() hands out the
// frames the input's end still owes (read between their two nearest input frames, since the taps
// would reach past it).
//
// Allocation-free once its buffers have grown to the largest push. Not thread-safe.

#include "infrastructure/AudioUnits.h"

#include <vector>

namespace kivo {

class FractionalResampler {
public:
    static constexpr int kChannels = 2;
    static constexpr int kTaps = 32;
    static constexpr int kPhases = 1024;

    FractionalResampler();

    // Drops what is held; the next frame pushed is input frame 0 again, at a ratio of 1.
    void reset();
    // From now on, `outputPerInput` output frames per input frame, reached linearly over the
    // next `slewFrames` output frames.
    void setRatio(double outputPerInput, Frames slewFrames);
    // Appends to `out` every output frame that `frames` more input frames make possible.
    void process(const float* interleaved, Frames frames, std::vector<float>& out);
    // Appends the output frames still owed for the input pushed so far, then reset().
    void flush(std::vector<float>& out);

private:
    void produce(std::vector<float>& out);
    // Moves on to the next output frame's input position.
    void advance();

    // kPhases + 1 rows of kTaps coefficients, each twice (left, right): row r delays by
    // r / kPhases of a frame.
    std::vector<float> m_table;
    std::vector<float> m_history; // interleaved input from kTaps / 2 - 1 frames before m_position
    double m_position = 0.0;      // input frame (index in m_history) of the next output frame
    double m_step = 1.0;          // input frames per output frame, now
    double m_targetStep = 1.0;
    double m_stepChange = 0.0; // added to m_step per output frame until it reaches the target
};

} // namespace kivo
