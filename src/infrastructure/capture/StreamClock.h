#pragma once

// When each frame of a record stream was captured, on the monotonic host clock: the decisions of
// a stream's clock, apart from the sound server's library, so they can be driven and tested
// with made-up fragments and reports.
//
// Each stream is anchored from the server's latency reports (the frame at the read position was
// captured `latency` seconds before the report arrived) and every fragment is then stamped by
// counting frames from that anchor, so consecutive fragments join without gaps or overlaps; a
// ClockFollower resamples the audio ever so slightly so that the count keeps up with the reports
// when the device's clock runs faster or slower than the host clock. Reports are late by the time
// since the server last wrote into the stream, up to a PipeWire graph cycle or more. The anchor
// is the earliest but one estimate (earlyEstimateOf) over a calibration window (kCalibrationTime
// and kCalibrationReports); fragments that arrive meanwhile are held back and stamped when it
// ends. A stream's first anchor, though, is taken from its first kFirstAnchorReports (see
// settleAnchor()), so that a recording's audio goes on within milliseconds of its start; the
// window then runs on, and the ClockFollower shifts the stamps to its anchor without a break. The
// anchor is measured again after a discontinuity: a hole in the data, a suspend, a move to another
// device (restart()), a fragment that arrives more than kMaxLateness later or earlier after its
// capture than fragments did when the anchor was taken (the stream stalled, as a paused
// application's stream does), or a count that is off by more than kMaxShift from the reports in a
// check (one about every kCheckInterval, over kCheckReports reports in a row). A check within
// kMaxShift moves the stamps without a break: one within kMaxStep steers the ClockFollower, a
// larger one shifts them quickly.
//
// Frames the server lost without a hole usually show before a check does: the fragments after
// them arrive later after their counted capture than fragments have lately. Such a fragment is
// held back and reports are asked for; if the fragments after it stay late and the reports agree,
// the stamps jump by what was lost just before the held fragment (or as far into it as it came
// later than the loss explains: after a stalled graph, the audio from before the loss comes a
// cycle late with the first cycle after it; or into digital silence among the held audio), so
// that the gap in the track falls where the audio went missing. A fragment late for want of a
// wake-up is followed by one on time, and both go on as they are.
//
// Not thread-safe: the thread of the stream that owns it.

#include "infrastructure/AudioUnits.h"
#include "infrastructure/capture/ClockFollower.h"

#include <optional>
#include <vector>

namespace kivo {

class StreamClock {
public:
    // Largest difference between the counted and the reported capture time that is steered out,
    // seconds: a device's clock drifts far less between two checks, a server's latency changes
    // by a few milliseconds. A larger step (frames the server lost without a hole, PipeWire's on
    // a loaded machine) is shifted out without a break in the audio at kStepCatchUp (15 ms in
    // 3 s, a pitch change of 9 cents), so long as the stamps, shift under way included, are at
    // most kMaxShift off: further, two sources would be heard apart for seconds (a PipeWire
    // cycle of 1024 frames is 21 ms), and the stream is measured again.
    static constexpr double kMaxStep = 0.010;
    static constexpr double kMaxShift = 0.015;
    static constexpr double kStepCatchUp = 0.005;
    // Largest graph cycle taken as one, frames: PipeWire's limit on its quantum.
    static constexpr Frames kMaxCycleFrames = 8192;
    // Largest accepted change of the time between a fragment's capture and its arrival, seconds.
    static constexpr double kMaxLateness = 0.5;
    // A first anchor is taken from this many reports, then moved to the one taken from at least
    // kCalibrationReports over at least kCalibrationTime.
    static constexpr int kFirstAnchorReports = 3;
    static constexpr int kCalibrationReports = 7;
    static constexpr double kCalibrationTime = 0.12;
    // How often the counted time is checked against the server's reports, seconds, and over how
    // many reports in a row.
    static constexpr double kCheckInterval = 1.0;
    static constexpr int kCheckReports = 5;
    // A fragment's lateness is measured against the least of the last kLatenessWindow to twice
    // that, seconds; at most kMaxHeldFrames are held back while kLossReports reports are awaited
    // (a loss is taken when each of them finds the count more than kMaxStep behind).
    static constexpr double kLatenessWindow = 0.5;
    static constexpr Frames kMaxHeldFrames = kSampleRateHz / 16;
    static constexpr int kLossReports = 2;
    // Fragments held back until there is an anchor; beyond this the anchor is settled with
    // what is known (or, without any report, the arrival time).
    static constexpr Frames kMaxPendingFrames = kSampleRateHz;

    // `output` receives the stamped audio. `playedOneCycleLater`: the stream is taken one graph
    // cycle before the output plays its audio (an application's own stream on PipeWire), so the
    // stamps move one cycle later.
    StreamClock(FragmentHandler output, bool playedOneCycleLater);

    // A fragment taken from the stream at `now`. Returns whether a latency report is wanted.
    bool take(const float* interleaved, Frames frames, HostSeconds now);
    // Frames the server never sent (a hole): counted, and the clock is measured again. Returns
    // whether a latency report is wanted.
    bool skip(Frames frames);
    // A latency report that arrived at `now`: every frame taken so far was captured `latency`
    // seconds before (none: the report failed); `written`, the frames the server had written.
    // Returns whether another report is wanted at once (the clock is measured again).
    bool report(std::optional<double> latency, std::optional<Frames> written, HostSeconds now);
    // The stream moved, was suspended or resumed: what the resampler holds goes out and a new
    // anchor is measured. A latency report is wanted.
    void restart();
    // Stamps the fragments held back for want of reports, with what is known so far, and hands
    // everything on: a recording stopped right after its start keeps its audio.
    void handOnHeldBack(HostSeconds now);

    // The capture time just after the last frame handed on (fragments held back while a loss is
    // told from a late wake-up are not); empty before there is an anchor.
    std::optional<HostSeconds> capturedUntil() const;
    Frames framesTaken() const { return m_framesRead; }
    bool isAnchored() const { return m_anchor.has_value(); }

private:
    void settleAnchor(HostSeconds now);
    // The calibration window has its reports and its length.
    bool calibrationIsOver(HostSeconds now) const;
    // Hands an anchored fragment on, or holds it back while its lateness (seconds after its
    // counted capture) is told from a loss. Returns whether reports are wanted for it.
    bool handOnOrHold(const float* interleaved, Frames frames, double lateness, HostSeconds now);
    // Hands on the fragments held back, their stamps `lost` seconds later.
    void handOnHeld(double lost);
    void noteLateness(double lateness, HostSeconds now);
    void noteServerWrite(Frames written);
    // How much later than the stream delivers its audio is played, seconds.
    double playedLater() const;
    HostSeconds stampOf(Frames frame) const;

    FragmentHandler m_output;
    bool m_playedOneCycleLater = false;

    Frames m_framesRead = 0; // frames taken from the stream since it started, holes included
    struct Anchor {
        Frames frame = 0;       // a frame index of this stream
        HostSeconds time = 0.0; // its capture time
    };
    std::optional<Anchor> m_anchor;
    bool m_calibrating = false;    // anchored from the first reports, the window still running
    bool m_anchoredBefore = false; // the stream has had an anchor
    struct Calibration {
        Frames frame = 0;                   // the frame whose capture time is being measured
        std::vector<HostSeconds> estimates; // of its capture time, one per report
        HostSeconds started = -1.0;         // when the first report arrived
    };
    Calibration m_calibration;         // while there is no anchor, or a first one
    HostSeconds m_lastCheck = 0.0;     // when the last latency report arrived
    double m_usualLateness = 0.0;      // arrival minus capture time when the anchor was taken, s
    std::vector<double> m_checkErrors; // of the reports of the check under way
    struct Pending {
        Frames frame = 0;           // its first frame's index
        std::vector<float> samples; // interleaved
    };
    // The server writes into the stream once per graph cycle, so the frames it has written
    // advance by whole cycles between reports: the greatest common divisor of the advances is
    // the cycle (the shortest one, when the server changed it).
    std::optional<Frames> m_lastWritten; // frames the server had written, at the last report
    Frames m_cycleFrames = 0;            // 0 until measured
    std::vector<Pending> m_pending;      // fragments taken while there is no anchor
    Frames m_pendingFrames = 0;
    ClockFollower m_clock; // stamps and hands on the audio while there is an anchor

    struct Held {
        std::vector<float> samples; // interleaved, of every fragment held back
        Frames frames = 0;
        double late = 0.0;                // least lateness beyond the usual among them, s
        double firstLate = 0.0;           // the first one's, s
        std::vector<double> reportErrors; // of reports since the first was held, all behind
    };
    Held m_held;
    // The least lateness of the anchored fragments in the current window and the one before.
    double m_leastLateness = 0.0;
    double m_leastLatenessBefore = 0.0;
    HostSeconds m_latenessWindowStart = 0.0;
};

} // namespace kivo
