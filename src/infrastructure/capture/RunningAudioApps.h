#pragma once

// The running programs whose sound can be recorded on its own: the sound server's clients that
// name their process, one entry per process, in the server's order, without this program and
// without the sound server's own processes.

#include "application/RunningAudioApp.h"

#include <vector>

namespace kivo {

class PulseConnection;
struct PulseClientInfo;

namespace RunningAudioApps {

// Both block the calling thread (not the pulse thread) for the server's answer.
// Never fails: without a reachable server the list is empty.
std::vector<RunningAudioApp> list();
// Throws PlatformError when the server does not answer, so that a failing server is not taken
// for a program that has quit.
std::vector<RunningAudioApp> list(PulseConnection& connection);

// The listing itself, from the server's clients; `ownProcessID` is left out.
std::vector<RunningAudioApp> fromClients(const std::vector<PulseClientInfo>& clients,
                                         qint32 ownProcessID);

} // namespace RunningAudioApps

} // namespace kivo
