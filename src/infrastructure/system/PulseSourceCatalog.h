#pragma once

// The running applications and microphones offered for recording, from the sound server, and
// the notice that one of the server's clients went away (a program quit): removals arrive on the
// pulse thread, are carried to the main thread and reported once per burst.
//
// Main thread only; `onClientRemoved` is called on the main thread.

#include "application/PlatformServices.h"

#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

namespace kivo {

class PulseConnection;

class PulseSourceCatalog final : public SourceCatalog {
public:
    // Removals closer together than this are reported once, this long after the last of them.
    static constexpr std::chrono::milliseconds kCoalesceDelay{150};

    // Connects to the sound server for its events. Without a reachable server there are no
    // events and the lists are asked for afresh each time; nothing fails.
    PulseSourceCatalog();
    ~PulseSourceCatalog() override;

    PulseSourceCatalog(const PulseSourceCatalog&) = delete;
    PulseSourceCatalog& operator=(const PulseSourceCatalog&) = delete;

    // Sorted by name (see `sortedByName`). Blocks for the server's answer.
    std::vector<RunningAudioApp> applications() override;
    // In the server's order. Blocks for the server's answer.
    std::vector<AudioInputDevice> inputs() override;
    // Both lists on a pool thread, over the catalog's connection.
    void listInBackground(QObject* context, std::function<void(Lists)> done) override;

    // Orders applications by name as a file browser orders file names: locale-aware, ignoring
    // case, runs of digits by their value ("a9" before "a10"). Equal names keep their order.
    static std::vector<RunningAudioApp> sortedByName(std::vector<RunningAudioApp> apps);

private:
    bool hasConnection() const;

    // Declared before the connection, so the connection (and with it the pulse thread posting to
    // the timer) ends first.
    QTimer m_coalesce;
    // Absent without a server; shared with the pool threads that list over it.
    std::shared_ptr<PulseConnection> m_connection;
};

} // namespace kivo
