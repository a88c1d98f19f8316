#pragma once

// Why a capture could not start: the kind tells the capture service which message to show, the
// description carries the sound server's own text.

#include "infrastructure/PlatformError.h"

namespace kivo {

enum class CaptureStartProblem {
    // The sound server cannot be reached, or dropped the connection while the capture started.
    serverUnreachable,
    // There is no default output, or it has no monitor to record.
    noOutputDevice,
    // The server refused the record stream.
    streamFailed,
    // The chosen microphone (a source index) is not among the server's sources.
    microphoneMissing,
    // The microphone's source exists but its record stream could not be opened.
    microphoneUnusable,
    // The microphone's source has no channels or no sample rate, or there is no input at all.
    microphoneWithoutInput,
};

class CaptureStartError : public PlatformError {
public:
    CaptureStartError(CaptureStartProblem problem, const QString& description)
        : PlatformError(description)
        , m_problem(problem) {}
    CaptureStartError(CaptureStartProblem problem, const PlatformError& error)
        : PlatformError(error.description())
        , m_problem(problem) {}

    CaptureStartProblem problem() const noexcept { return m_problem; }

private:
    CaptureStartProblem m_problem;
};

} // namespace kivo
