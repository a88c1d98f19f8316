#pragma once

// Carries one record stream's audio from its device's clock onto the monotonic clock. A device
// clock runs a little fast or slow against the monotonic clock (tens of parts per million are
// common; 116 on the test server), so counting frames drifts apart from the server's reports by
// seconds in a day. Stepping the stamps back into line would drop or repeat a stretch of audio
// each time; instead the audio goes through a variable-rate resampler whose ratio is steered by
// the reports, so the stamps stay contiguous and follow the reports within milliseconds. Two
// sources of different devices thus stay aligned for as long as the recording runs.
//
// The steering is a proportional-integral control of the error between the reported capture
// time and the stamp of the same frame, over the earliest but one of the last few reports (see
// earlyEstimateOf), with a time constant of kTimeConstant and the correction
// limited to kMaxCorrection (a pitch change far below what anyone hears).
//
// Not thread-safe: the thread of the record stream that owns it.

#include "infrastructure/AudioUnits.h"
#include "infrastructure/audio/AudioFragment.h"
#include "infrastructure/capture/FractionalResampler.h"

#include <QtGlobal>

#include <functional>
#include <vector>

namespace kivo {

// The second-lowest of `values` (the lowest of one); `values` must not be empty. Capture times
// taken from latency reports are filtered with it: a report is late rather than early, by the
// time between the server's last write into the stream and its answer (up to a graph cycle on
// PipeWire, more when its threads wait for a loaded CPU), and on a loaded machine more than half
// of the reports over a short while can be late by a whole cycle. The earliest one is left out
// in case a single report is off the other way.
double earlyEstimateOf(std::vector<double> values);

class ClockFollower {
public:
    static constexpr int kChannels = 2;
    static constexpr double kTimeConstant = 10.0;  // seconds
    static constexpr double kMaxCorrection = 1e-3; // relative rate
    static constexpr int kErrorsKept = 5;          // reports the steering is filtered over
    static constexpr double kMaxCatchUp = 1e-3;    // relative rate shift() works at, by default

    using Output = FragmentHandler;

    ClockFollower();
    ClockFollower(const ClockFollower&) = delete;
    ClockFollower& operator=(const ClockFollower&) = delete;

    // Begins again: the next frame pushed was captured at `time`; nothing is held and there is
    // no correction. Call flush() first to keep what is held.
    void restart(HostSeconds time);
    // Resamples `frames` frames and hands on what comes out, stamped contiguously.
    void push(const float* interleaved, Frames frames, const Output& output);
    // Hands on what the resampler still holds.
    void flush(const Output& output);

    // The stamp the next frame pushed will get.
    double nextInputTime() const;
    // A report at host time `now`: the next frame to be pushed was captured `error` seconds
    // after the stamp it will have once the shift under way is done (nextInputTime() plus
    // shiftLeft()).
    void steer(double error, double now);
    // Moves the stamps of the frames to come by `seconds` (later when positive) without a break
    // in the audio: it is read up to `rate` faster or slower until the move is done (at
    // kMaxCatchUp a millisecond a second, a pitch change far below what anyone hears).
    void shift(double seconds, double rate = kMaxCatchUp);
    // Moves the stamps of the frames to come `seconds` later at once: a gap in the stamps between
    // what was handed on and what comes next, for frames the server lost there.
    void step(double seconds) { m_start += seconds; }
    // Seconds of shift() not yet done.
    double shiftLeft() const { return m_shiftLeft; }
    // The current correction: output frames per input frame, minus 1.
    double correction() const { return m_correction; }

private:
    // Stamps what m_out holds and gives it to `output`.
    void deliver(const Output& output);
    // Sets the resampler's ratio from the correction and the shift under way.
    void applyRatio(Frames slewFrames);

    FractionalResampler m_resampler;
    double m_start = 0.0;           // capture time of the first frame out after the restart
    qint64 m_handedOn = 0;          // frames out since the restart
    double m_expectedOut = 0.0;     // frames out the frames pushed since the restart amount to
    double m_correction = 0.0;      // relative rate now set
    double m_shiftLeft = 0.0;       // seconds of shift() not yet done
    double m_catchUp = kMaxCatchUp; // relative rate of the shift under way
    double m_integral = 0.0;        // the integral part of the correction
    double m_lastSteer = -1.0;      // host time of the last report, -1 before the first
    std::vector<double> m_errors;   // the last kErrorsKept errors
    std::vector<float> m_out;       // resampled frames, reused
};

} // namespace kivo
