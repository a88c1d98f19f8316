#pragma once

// Tells when the recorded process exits, through a pidfd of it that becomes readable when the
// process ends. One process at a time.
//
// Main thread only; `onExit` is called on the main thread, from the event loop.

#include "application/PlatformServices.h"

#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <optional>

namespace kivo {

class PidfdProcessWatcher final : public ProcessExitWatcher {
public:
    PidfdProcessWatcher();
    ~PidfdProcessWatcher() override;

    PidfdProcessWatcher(const PidfdProcessWatcher&) = delete;
    PidfdProcessWatcher& operator=(const PidfdProcessWatcher&) = delete;

    // Forgets the process watched before. A process that is already gone is reported on the
    // next turn of the event loop; one that cannot be watched (no pidfd support) never is.
    void watch(std::optional<qint32> pid) override;

private:
    void stopWatching();
    void report(qint32 pid);

    int m_pidfd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier; // readable once the process has exited
    QTimer m_gone;                               // reports a process found already gone
    qint32 m_pid = 0;
};

} // namespace kivo
