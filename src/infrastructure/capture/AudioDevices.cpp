#include "infrastructure/capture/AudioDevices.h"

#include "infrastructure/pulse/PulseConnection.h"

namespace kivo::AudioDevices {

std::vector<AudioInputDevice> inputs() {
    try {
        PulseConnection connection;
        return inputs(connection);
    } catch (const PlatformError&) {
        return {};
    }
}

std::vector<AudioInputDevice> inputs(PulseConnection& connection) {
    try {
        return fromSources(connection.sources());
    } catch (const PlatformError&) {
        return {};
    }
}

std::vector<AudioInputDevice> fromSources(const std::vector<PulseSourceInfo>& sources) {
    std::vector<AudioInputDevice> devices;
    for (const auto& source : sources) {
        // A monitor records an output, not a microphone; a source without a description or
        // without channels cannot be offered.
        if (source.isMonitor || source.description.isEmpty() || source.channels == 0) {
            continue;
        }
        devices.push_back({source.index, source.description});
    }
    return devices;
}

} // namespace kivo::AudioDevices
