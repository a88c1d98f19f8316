#pragma once

// The kivo-cli commands that work on the library and the recoverable sessions through the
// application model: list, recover, rename, trash, presets, play and markers. Each returns the
// program's exit code (see CommandLine.h) and prints its result to stdout, messages to stderr.

#include "cli/CommandLine.h"

namespace kivo {
class AppModel;
} // namespace kivo

namespace kivo::cli {

int listRecords(AppModel& model, const Invocation& invocation);
int recoverSessions(AppModel& model, const Invocation& invocation);
int renameRecord(AppModel& model, const Invocation& invocation);
int trashRecord(AppModel& model, const Invocation& invocation);
int listPresets(AppModel& model);
int playRecord(AppModel& model, const Invocation& invocation);
int listMarkers(AppModel& model, const Invocation& invocation);

} // namespace kivo::cli
