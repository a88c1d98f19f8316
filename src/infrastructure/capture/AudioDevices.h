#pragma once

// The audio inputs the microphone can be switched to: the sound server's sources that are not
// monitors of an output, in the server's order, each with a readable description.

#include "application/AudioInputDevice.h"

#include <vector>

namespace kivo {

class PulseConnection;
struct PulseSourceInfo;

namespace AudioDevices {

// Never fails: without a reachable server, or when the server does not answer, the list is
// empty. Blocks the calling thread (not the pulse thread) for the server's answers.
std::vector<AudioInputDevice> inputs();
std::vector<AudioInputDevice> inputs(PulseConnection& connection);

// The listing itself, from the server's sources in its order.
std::vector<AudioInputDevice> fromSources(const std::vector<PulseSourceInfo>& sources);

} // namespace AudioDevices

} // namespace kivo
