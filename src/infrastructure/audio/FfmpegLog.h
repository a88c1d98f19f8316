#pragma once

// Keeps FFmpeg's log off the terminal: its notes and warnings are dropped, and its errors are
// kept to explain the failure of the FFmpeg call that logged them in Kivo's own message.
//
// Any thread. The kept error is the calling thread's own.

#include <QString>

namespace kivo::FfmpegLog {

// Routes FFmpeg's log to Kivo; installed once, later calls do nothing. Call it before the first
// FFmpeg call.
void install();

// FFmpeg's text for the error code `error`, followed by the error it last logged on this thread,
// if any, which is then forgotten.
QString describe(int error);

} // namespace kivo::FfmpegLog
