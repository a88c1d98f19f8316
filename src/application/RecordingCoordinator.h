#pragma once

// The state machine of one recorder, between the application model and the recording backend:
// validates the configuration, tracks the state, keeps the elapsed time (pauses excluded),
// forwards gains, passes levels on only while recording, and turns every start and stop failure
// into the `error` text instead of an exception.
//
// Main thread only. Observers connect to changed(), emitted after any published property
// (state, levels, elapsed, error) has changed, or to the per-property signals.

#include "application/RecordingBackend.h"
#include "application/RecordingState.h"
#include "domain/RecordingConfiguration.h"
#include "domain/RecordingRecord.h"
#include "domain/RecordingTimeline.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace kivo {

// Seconds of CLOCK_MONOTONIC: the coordinator's clock unless a test gives it another.
double monotonicSeconds();

class RecordingCoordinator : public QObject {
    Q_OBJECT

public:
    // Installs its level and failure callbacks on `backend`, replacing any there. `now` returns
    // seconds of a monotonic clock.
    explicit RecordingCoordinator(std::shared_ptr<RecordingBackend> backend,
                                  std::function<double()> now = monotonicSeconds,
                                  QObject* parent = nullptr);
    ~RecordingCoordinator() override;

    RecordingState state() const { return m_state; }
    // Zero unless recording.
    AudioLevels levels() const { return m_levels; }
    // Seconds recorded, pauses excluded; refreshed every 0.2 s while a recording is open and
    // kept after it stops until the next start.
    double elapsed() const { return m_elapsed; }
    // The last failure's message for the user. Cleared only when a recording starts, or here.
    const std::optional<QString>& error() const { return m_error; }
    void setError(std::optional<QString> error);

    // Called when the backend reports a failure while recording or paused; the owner stops
    // through stop().
    std::function<void()> onUnexpectedStop;

    // Validates and starts a recording; ignored unless idle. Never throws: a failure lands in
    // error(). `done` runs once when the start has finished, failed or been ignored; that may be
    // before this returns.
    void start(const RecordingConfiguration& configuration, std::function<void()> done = {});
    // Pauses a recording or resumes a paused one, then refreshes the elapsed time; ignored in
    // every other state.
    void togglePause();
    // Elapsed time as of now while recording or paused; otherwise the shown time stays.
    void refreshElapsed();
    // Passed on to the backend unchanged, in any state.
    void setGains(float system, float microphone);
    // Passed on to the backend while recording or paused (see RecordingBackend::addMarker);
    // otherwise `done` gets the refusal at once.
    void addMarker(const QString& label, std::function<void(Result<RecordingMarker>)> done);
    void relabelMarker(qsizetype index, const QString& label, std::function<void(Result<>)> done);
    // Stops and exports an open recording. `done` receives the record, or nothing when the
    // request was ignored or the stop failed (then error() says why); it may run before this
    // returns.
    void stop(std::function<void(std::optional<RecordingRecord>)> done = {});
    // The record is in the library; the backend may release the session. Throws its failure.
    void acknowledgeSaved();

signals:
    void changed();
    void stateChanged(kivo::RecordingState state);
    void levelsChanged(kivo::AudioLevels levels);
    void elapsedChanged(double elapsed);
    void errorChanged();

private:
    void finishStart(quint64 operation, const Result<>& result, const std::function<void()>& done);
    void finishStop(quint64 operation, const Result<RecordingRecord>& result,
                    const std::function<void(std::optional<RecordingRecord>)>& done);
    void setState(RecordingState state);
    void setLevels(AudioLevels levels);
    void setElapsed(double elapsed);

    std::shared_ptr<RecordingBackend> m_backend;
    std::function<double()> m_now;
    RecordingState m_state = RecordingState::idle;
    AudioLevels m_levels;
    double m_elapsed = 0;
    std::optional<QString> m_error;
    RecordingTimeline m_timeline;
    // Exists from a successful start to the stop.
    std::unique_ptr<QTimer> m_timer;
    // Numbers each start and stop, so that a completion only finishes the request it belongs to.
    quint64 m_operation = 0;
};

} // namespace kivo
