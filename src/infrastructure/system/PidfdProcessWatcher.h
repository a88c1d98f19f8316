#pragma once

// Tells when the recorded process exits, through a pidfd of it that becomes readable when the
// process ends. Where there is no pidfd (a kernel before 5.3, a sandbox that forbids it), the
// sound server's news that a client went away has it look whether the process is still there.
// One process at a time.
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
    // `usePidfd` false acts as a system without pidfds does.
    explicit PidfdProcessWatcher(bool usePidfd = true);
    ~PidfdProcessWatcher() override;

    PidfdProcessWatcher(const PidfdProcessWatcher&) = delete;
    PidfdProcessWatcher& operator=(const PidfdProcessWatcher&) = delete;

    // Forgets the process watched before. A process that is already gone is reported on the
    // next turn of the event loop.
    void watch(std::optional<qint32> pid) override;
    // Without a pidfd: reports the watched process if it has ended.
    void soundServerClientRemoved() override;

private:
    void stopWatching();
    void report(qint32 pid);

    bool m_usePidfd = true;
    int m_pidfd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier; // readable once the process has exited
    QTimer m_gone;                               // reports a process found already gone
    qint32 m_pid = 0;
};

} // namespace kivo
