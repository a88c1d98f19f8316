#pragma once

// The one narrow interface between the recording coordinator and whatever captures and writes
// the audio: the capture service in the program, a test double in the tests.
//
// Main thread only: every operation is called there, and every completion and callback must be
// called there too. A completion may come later (after the call has returned) or at once, from
// inside the call; callers handle both. Each completion is called exactly once.

#include "application/RecordingState.h"
#include "domain/RecordingConfiguration.h"
#include "domain/RecordingMarker.h"
#include "domain/RecordingRecord.h"
#include "domain/Result.h"

#include <QString>

#include <functional>

namespace kivo {

class RecordingBackend {
public:
    virtual ~RecordingBackend() = default;

    // Fresh levels while capturing. Main thread.
    std::function<void(AudioLevels)> onLevels;
    // Capture broke down during a recording; the text is the message for the user. Main thread.
    std::function<void(QString)> onFailure;
    // Progress of the export a stop runs, as the fraction (0…1) of the frames written. Main
    // thread.
    std::function<void(double)> onExportProgress;

    // Begins capturing with an already validated configuration; completes once capture runs, or
    // with the error whose description is shown to the user.
    virtual void start(const RecordingConfiguration& configuration,
                       std::function<void(Result<>)> completion) = 0;
    // Stops accepting audio until resumed.
    virtual void pause() = 0;
    // Accepts audio again.
    virtual void resume() = 0;
    // New linear gains for the running recording; no effect when none runs.
    virtual void setGains(float system, float microphone) = 0;
    // Marks the running recording's present moment (paused: the moment of the pause) with
    // `label`; completes once the marker is on disk with the session, with the marker (its place
    // on the recording) or the error.
    virtual void addMarker(const QString& label,
                           std::function<void(Result<RecordingMarker>)> completion) = 0;
    // Gives the running recording's marker `index` (in the order added) a new label, on disk
    // before the completion.
    virtual void relabelMarker(qsizetype index, const QString& label,
                               std::function<void(Result<>)> completion) = 0;
    // Ends capture, finishes and exports; completes with the exported recording or the error.
    virtual void stop(std::function<void(Result<RecordingRecord>)> completion) = 0;
    // The record is safely in the library: the session's temporary data may go. Throws.
    virtual void acknowledgeSaved() = 0;
    // The record could not be stored: let go of the finished recording and leave its session
    // data for recovery, so that a new recording can start.
    virtual void releaseAfterIndexFailure() = 0;
};

} // namespace kivo
