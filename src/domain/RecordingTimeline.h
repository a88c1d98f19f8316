#pragma once

// The pause-aware clock of one recording: turns moments of an outside clock into the recording's
// own time, which does not advance while paused. All times are seconds of that outside clock; the
// timeline reads no clock itself.

#include <optional>

namespace kivo {

class RecordingTimeline {
public:
    // Begins, or begins again: any pause and all paused time are forgotten.
    void start(double at);
    // Begins a pause; only when started and not already paused.
    void pause(double at);
    // Ends the current pause; a resume earlier than the pause counts as a pause of 0.
    void resume(double at);

    bool isPaused() const { return m_pauseStarted.has_value(); }
    // The moment the current pause began, while paused.
    std::optional<double> pausedAt() const { return m_pauseStarted; }
    // The moment the current run of recording began (the start, or the latest resume); none
    // before the start.
    std::optional<double> runStartedAt() const {
        return m_intervalStarted ? m_intervalStarted : m_started;
    }

    // Recording time of moment `at`, not clamped; none when not started, when `at` is before the
    // start of the current run of recording (audio stamped before the latest resume), or while
    // paused when `at` lies in the pause (what was captured before it still counts: it reaches
    // the writer a little later).
    std::optional<double> position(double at) const;
    // Recording time elapsed at `at`, never negative; fixed at the pause moment while paused.
    double elapsed(double at) const;

private:
    std::optional<double> m_started;
    std::optional<double> m_pauseStarted;
    std::optional<double> m_intervalStarted;
    // Total length of the finished pauses.
    double m_pauseDuration = 0;
};

} // namespace kivo
