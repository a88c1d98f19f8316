#include "infrastructure/system/PidfdProcessWatcher.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace kivo {

PidfdProcessWatcher::PidfdProcessWatcher() {
    m_gone.setSingleShot(true);
    m_gone.setInterval(0);
    QObject::connect(&m_gone, &QTimer::timeout, [this] { report(m_pid); });
}

PidfdProcessWatcher::~PidfdProcessWatcher() {
    m_gone.stop();
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier.reset();
    }
    if (m_pidfd >= 0) {
        ::close(m_pidfd);
    }
}

void PidfdProcessWatcher::watch(std::optional<qint32> pid) {
    stopWatching();
    if (!pid || *pid <= 0) {
        return;
    }
    m_pid = *pid;
    const auto fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(*pid), 0U));
    if (fd < 0) {
        if (errno == ESRCH) {
            m_gone.start();
        }
        return;
    }
    m_pidfd = fd;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                     [this, watched = *pid] { report(watched); });
}

void PidfdProcessWatcher::stopWatching() {
    m_gone.stop();
    if (m_notifier) {
        // It may be the notifier whose signal is running: delete it once that has returned.
        m_notifier->setEnabled(false);
        m_notifier.release()->deleteLater();
    }
    if (m_pidfd >= 0) {
        ::close(m_pidfd);
        m_pidfd = -1;
    }
}

void PidfdProcessWatcher::report(qint32 pid) {
    // Stop first: the handler may watch another process.
    stopWatching();
    if (onExit) {
        onExit(pid);
    }
}

} // namespace kivo
