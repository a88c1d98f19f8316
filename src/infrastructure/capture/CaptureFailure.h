#pragma once

// What went wrong with a running capture, reported once through the capture's failure callback.
// The capture service turns the kind into the message the user sees.

#include <QString>

namespace kivo {

enum class CaptureFailureKind {
    // The connection to the sound server broke (the server stopped or dropped this client).
    connectionLost,
    // The recorded output went away and no default output is left to follow.
    outputLost,
    // The microphone's stream was moved to another source, suspended, or its source was removed.
    microphoneChanged,
    // The source delivered nothing for RecordStream::kMaxQuiet seconds, nor after being reopened,
    // without a word from the server (which may hang).
    sourceStalled,
};

struct CaptureFailure {
    CaptureFailureKind kind = CaptureFailureKind::connectionLost;
    QString description; // the sound server's own text, or a sentence naming what happened
};

} // namespace kivo
