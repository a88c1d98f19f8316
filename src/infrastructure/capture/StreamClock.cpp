#include "infrastructure/capture/StreamClock.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace kivo {

namespace {

constexpr qint64 kChannels = ClockFollower::kChannels;
// Frames of digital silence that make a place for a gap: a millisecond.
constexpr Frames kSilentRun = kSampleRateHz / 1000;

// The first frame of the first run of kSilentRun silent frames, or 0 when there is none.
Frames firstSilence(const float* interleaved, Frames frames) {
    Frames run = 0;
    for (Frames frame = 0; frame < frames; ++frame) {
        const bool silent =
            interleaved[frame * kChannels] == 0.0F && interleaved[frame * kChannels + 1] == 0.0F;
        run = silent ? run + 1 : 0;
        if (run == kSilentRun) {
            return frame + 1 - run;
        }
    }
    return 0;
}

} // namespace

StreamClock::StreamClock(FragmentHandler output, bool playedOneCycleLater)
    : m_output(std::move(output))
    , m_playedOneCycleLater(playedOneCycleLater) {}

bool StreamClock::take(const float* interleaved, Frames frames, HostSeconds now) {
    if (m_anchor) {
        const auto lateness = now - m_clock.nextInputTime() - secondsOf(m_held.frames + frames);
        if (std::abs(lateness - m_usualLateness) <= kMaxLateness) {
            m_framesRead += frames;
            return handOnOrHold(interleaved, frames, lateness, now) || m_calibrating ||
                   !m_checkErrors.empty() || now - m_lastCheck >= kCheckInterval;
        }
        // The fragment arrived far later (or earlier) than fragments did when the anchor was
        // taken: the stream stalled, as a paused application's stream does. It waits for a new
        // anchor.
        restart();
    }
    m_pending.push_back(
        {m_framesRead, std::vector<float>(interleaved, interleaved + frames * kChannels)});
    m_pendingFrames += frames;
    m_framesRead += frames;
    if (m_pendingFrames > kMaxPendingFrames) {
        // Without a report in time the arrival of the last frame stands for its capture time.
        settleAnchor(now);
        return false;
    }
    return true;
}

bool StreamClock::skip(Frames frames) {
    const bool anchored = m_anchor.has_value();
    if (anchored) {
        restart();
    }
    m_framesRead += frames;
    return anchored;
}

bool StreamClock::report(std::optional<double> latency, std::optional<Frames> written,
                         HostSeconds now) {
    if (m_held.frames == 0) {
        // Reports about a held fragment do not put the next check off.
        m_lastCheck = now;
    }
    if (!latency) {
        return false;
    }
    // The frame at the read position, which is every frame taken so far, was captured
    // `latency` before now.
    const auto measured = now - *latency;
    if (written) {
        noteServerWrite(*written);
    }

    if (!m_anchor || m_calibrating) {
        // Calibrating. The next report is asked for when the next fragment arrives: right after
        // the server wrote is when a report is closest.
        m_calibration.estimates.push_back(measured - secondsOf(m_framesRead - m_calibration.frame));
        if (m_calibration.started < 0.0) {
            m_calibration.started = now;
        }
        const bool windowOver = calibrationIsOver(now);
        if (!m_anchor) {
            // A stream's first anchor is taken from its first reports, so that a recording's
            // audio goes on at once. After a discontinuity, and for an application's own stream
            // (whose stamps hang on the server's cycle, which changes while streams join), the
            // whole window is measured first.
            if (windowOver ||
                (!m_anchoredBefore && !m_playedOneCycleLater &&
                 static_cast<int>(m_calibration.estimates.size()) >= kFirstAnchorReports)) {
                settleAnchor(now);
            }
        } else if (windowOver) {
            // The first anchor moves to the one the window measured, the audio read a little
            // faster or slower meanwhile.
            const auto settled = earlyEstimateOf(m_calibration.estimates) + playedLater();
            m_clock.shift(settled - m_anchor->time);
            m_anchor->time = settled;
            m_calibrating = false;
            m_usualLateness = now - stampOf(m_framesRead);
        }
        return false;
    }

    // How much later than counted the frame after those taken was captured, beyond the shift
    // still under way.
    const auto measuredError = measured + playedLater() - m_clock.nextInputTime() -
                               secondsOf(m_held.frames) - m_clock.shiftLeft();
    if (m_held.frames > 0) {
        if (measuredError <= kMaxStep) {
            // Nothing lost: the held audio goes on at once, as it is.
            handOnHeld(0.0);
            return false;
        }
        // The next report comes with the next fragment, right after the server wrote again:
        // one asked for at once would be as late as this one, by the time since the server's
        // last write (up to a cycle), and agree with it whether or not frames were lost.
        m_held.reportErrors.push_back(measuredError);
        return false;
    }

    // A check: a few reports in a row, one per fragment, of which the earliest but one counts.
    m_checkErrors.push_back(measuredError);
    if (static_cast<int>(m_checkErrors.size()) < kCheckReports) {
        return false;
    }
    const auto error = earlyEstimateOf(m_checkErrors);
    m_checkErrors.clear();
    if (std::abs(error + m_clock.shiftLeft()) > kMaxShift) {
        // The stamps are further off than shifting would mend before the stream's audio falls
        // out of line with the other source's: a cycle or more lost, or an anchor taken from
        // late reports.
        restart();
        return true;
    }
    if (std::abs(error) > kMaxStep) {
        // Further off than a device's clock drifts in a check's time: frames the server lost or
        // repeated without a hole (PipeWire loses part of a cycle on a loaded machine). The
        // stamps move to the reports within about two seconds; a new anchor would leave the step
        // as a gap (or an overlap) in the track here, well after the frames went missing.
        m_clock.shift(error, kStepCatchUp);
        return false;
    }
    m_clock.steer(error, now);
    return false;
}

void StreamClock::settleAnchor(HostSeconds now) {
    auto& estimates = m_calibration.estimates;
    if (estimates.empty()) {
        estimates.push_back(now - secondsOf(m_framesRead - m_calibration.frame));
    }
    m_calibrating = !calibrationIsOver(now);
    if (m_calibrating) {
        // Reports keep coming until the window is over. Meanwhile the earliest of a few reports
        // but the first: a stream's first report can be early by milliseconds (PulseAudio's,
        // while the device's latency is set for the new stream), later ones have not been seen
        // early by more than a fraction of a millisecond, while one in a few is late.
        const auto first = estimates.size() > 1 ? estimates.begin() + 1 : estimates.begin();
        m_anchor =
            Anchor{m_calibration.frame, *std::min_element(first, estimates.end()) + playedLater()};
    } else {
        m_anchor = Anchor{m_calibration.frame, earlyEstimateOf(estimates) + playedLater()};
    }
    m_anchoredBefore = true;
    m_checkErrors.clear();
    m_lastCheck = now;
    m_usualLateness = now - stampOf(m_framesRead);
    auto pending = std::move(m_pending);
    m_pending.clear();
    m_pendingFrames = 0;
    m_leastLateness = m_leastLatenessBefore = std::numeric_limits<double>::infinity();
    m_latenessWindowStart = now;
    m_clock.restart(stampOf(pending.empty() ? m_framesRead : pending.front().frame));
    Frames next = pending.empty() ? m_framesRead : pending.front().frame;
    for (const auto& [frame, samples] : pending) {
        if (frame != next) {
            // A hole while the clock was measured: the audio after it starts a new run.
            m_clock.flush(m_output);
            m_clock.restart(stampOf(frame));
        }
        const auto frames = static_cast<Frames>(samples.size()) / kChannels;
        m_clock.push(samples.data(), frames, m_output);
        next = frame + frames;
    }
}

bool StreamClock::handOnOrHold(const float* interleaved, Frames frames, double lateness,
                               HostSeconds now) {
    const double late = lateness - std::min(m_leastLateness, m_leastLatenessBefore);
    const bool isLate = !m_calibrating && late > kMaxStep;
    // A report that finds nothing lets the held audio go at once (report()), so every report
    // kept found the count behind.
    const auto& errors = m_held.reportErrors;
    const bool confirmed = static_cast<int>(errors.size()) >= kLossReports;
    if (isLate && !confirmed && m_held.frames + frames <= kMaxHeldFrames) {
        if (m_held.frames == 0) {
            m_held.firstLate = late;
        }
        m_held.late = m_held.frames == 0 ? late : std::min(m_held.late, late);
        m_held.samples.insert(m_held.samples.end(), interleaved, interleaved + frames * kChannels);
        m_held.frames += frames;
        return true;
    }
    double lost = 0.0;
    if (m_held.frames > 0 && isLate && confirmed) {
        // Late twice over and the reports agree: frames lost before the first held fragment.
        lost = std::max(
            std::min({m_held.late, late, *std::min_element(errors.begin(), errors.end())}), 0.0);
    }
    handOnHeld(lost);
    noteLateness(lateness - lost, now);
    m_clock.push(interleaved, frames, m_output);
    return false;
}

void StreamClock::handOnHeld(double lost) {
    if (m_held.frames == 0) {
        return;
    }
    Frames before = 0;
    if (lost > 0.0) {
        // The gap goes before the first fragment that came late, or into the first silence
        // among those held, where it is not heard (a server that could not render a cycle in time
        // writes silence for it, and drops the cycle it was late with beside it).
        before = firstSilence(m_held.samples.data(), m_held.frames);
        if (before > 0) {
            // Into the middle of the silent run: the resampler still holds the last few frames
            // pushed, which take the stamps after the gap.
            before = std::min(before + kSilentRun / 2, m_held.frames);
        } else {
            // A first held fragment later than the loss explains begins with audio from before
            // the loss: after a stall PipeWire hands on the cycle that follows it a cycle late,
            // in the fragment that holds the end of the cycle before. The gap goes as far into it
            // as the fragment was later (lost is at most its lateness).
            before = std::min(framesForSeconds(m_held.firstLate - lost), m_held.frames);
        }
        m_clock.push(m_held.samples.data(), before, m_output);
        m_clock.step(lost);
        m_checkErrors.clear();
    }
    m_clock.push(m_held.samples.data() + before * kChannels, m_held.frames - before, m_output);
    m_held.samples.clear();
    m_held.frames = 0;
    m_held.reportErrors.clear();
}

void StreamClock::noteLateness(double lateness, HostSeconds now) {
    if (now - m_latenessWindowStart >= kLatenessWindow) {
        m_leastLatenessBefore = m_leastLateness;
        m_leastLateness = lateness;
        m_latenessWindowStart = now;
    } else {
        m_leastLateness = std::min(m_leastLateness, lateness);
    }
}

void StreamClock::handOnHeldBack(HostSeconds now) {
    if (!m_pending.empty()) {
        settleAnchor(now);
    }
    if (m_anchor) {
        handOnHeld(0.0);
        m_clock.flush(m_output);
    }
}

std::optional<HostSeconds> StreamClock::capturedUntil() const {
    if (m_anchor) {
        return m_clock.nextInputTime();
    }
    return std::nullopt;
}

void StreamClock::restart() {
    if (m_anchor) {
        // What is held back and what the resampler holds belong to the clock being given up.
        handOnHeld(0.0);
        m_clock.flush(m_output);
    }
    m_anchor.reset();
    m_calibrating = false;
    m_checkErrors.clear();
    m_calibration = Calibration{};
    m_calibration.frame = m_framesRead;
}

bool StreamClock::calibrationIsOver(HostSeconds now) const {
    return static_cast<int>(m_calibration.estimates.size()) >= kCalibrationReports &&
           now - m_calibration.started >= kCalibrationTime;
}

void StreamClock::noteServerWrite(Frames written) {
    if (m_lastWritten && written > *m_lastWritten) {
        m_cycleFrames = std::gcd(m_cycleFrames, written - *m_lastWritten);
    }
    m_lastWritten = written;
}

double StreamClock::playedLater() const {
    return m_playedOneCycleLater && m_cycleFrames <= kMaxCycleFrames ? secondsOf(m_cycleFrames)
                                                                     : 0.0;
}

HostSeconds StreamClock::stampOf(Frames frame) const {
    return m_anchor->time + secondsOf(frame - m_anchor->frame);
}

} // namespace kivo
