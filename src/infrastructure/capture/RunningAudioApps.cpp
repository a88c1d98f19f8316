#include "infrastructure/capture/RunningAudioApps.h"

#include "infrastructure/pulse/PulseConnection.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <set>

namespace kivo::RunningAudioApps {

namespace {

// The programs that make up the sound server and its session manager.
constexpr std::array kServerBinaries{"pipewire", "pipewire-pulse", "wireplumber",
                                     "pipewire-media-session", "pulseaudio"};

bool isServerBinary(const QString& binary) {
    return std::any_of(kServerBinaries.begin(), kServerBinaries.end(),
                       [&](const char* name) { return binary == QLatin1String(name); });
}

} // namespace

std::vector<RunningAudioApp> fromClients(const std::vector<PulseClientInfo>& clients,
                                         qint32 ownProcessID) {
    // PipeWire names the pulse server's process as the far end of every pulse client's
    // connection.
    std::set<qint32> serverProcesses;
    for (const auto& client : clients) {
        if (client.clientAPI == QLatin1String("pipewire-pulse") && client.connectionProcessID) {
            serverProcesses.insert(*client.connectionProcessID);
        }
        if (client.processID && isServerBinary(client.processBinary)) {
            serverProcesses.insert(*client.processID);
        }
    }

    std::vector<RunningAudioApp> apps;
    std::set<qint32> unnamed; // listed as "App" so far
    for (const auto& client : clients) {
        if (!client.processID || *client.processID == ownProcessID ||
            serverProcesses.count(*client.processID) != 0) {
            continue;
        }
        const auto pid = *client.processID;
        std::optional<QString> bundleID;
        if (!client.processBinary.isEmpty()) {
            bundleID = client.processBinary;
        }
        const auto existing =
            std::find_if(apps.begin(), apps.end(), [&](const auto& app) { return app.id == pid; });
        if (existing == apps.end()) {
            if (client.applicationName.isEmpty()) {
                unnamed.insert(pid);
            }
            apps.push_back(
                {pid,
                 client.applicationName.isEmpty() ? QStringLiteral("App") : client.applicationName,
                 bundleID, std::nullopt});
            continue;
        }
        // One entry per process: a later client of it may name what the first did not.
        if (unnamed.count(pid) != 0 && !client.applicationName.isEmpty()) {
            existing->name = client.applicationName;
            unnamed.erase(pid);
        }
        if (!existing->bundleID) {
            existing->bundleID = bundleID;
        }
    }
    return apps;
}

std::vector<RunningAudioApp> list() {
    try {
        PulseConnection connection;
        return list(connection);
    } catch (const PlatformError&) {
        return {};
    }
}

std::vector<RunningAudioApp> list(PulseConnection& connection) {
    std::vector<RunningAudioApp> apps =
        fromClients(connection.clients(), static_cast<qint32>(::getpid()));
    // What each plays, to tell apart two programs of one name ("paplay" and "paplay").
    for (const PulseSinkInputInfo& stream : connection.sinkInputs()) {
        for (RunningAudioApp& app : apps) {
            if (stream.processID == app.id && !app.streamName && !stream.mediaName.isEmpty()) {
                app.streamName = stream.mediaName;
            }
        }
    }
    return apps;
}

} // namespace kivo::RunningAudioApps
