#include "infrastructure/system/PidfdProcessWatcher.h"

#include <QFile>

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace kivo {

namespace {

// A process that has ended, or is a zombie nobody has reaped yet, is gone.
bool hasEnded(qint32 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return true;
    }
    // "pid (name) state ...": the name may hold spaces and parentheses.
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(") ");
    const char state = end >= 0 && end + 2 < line.size() ? line[end + 2] : 'X';
    return state == 'Z' || state == 'X';
}

} // namespace

PidfdProcessWatcher::PidfdProcessWatcher(bool usePidfd)
    : m_usePidfd(usePidfd) {
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
    const auto fd =
        m_usePidfd ? static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(*pid), 0U)) : -1;
    if (fd < 0) {
        if ((m_usePidfd && errno == ESRCH) || hasEnded(*pid)) {
            m_gone.start();
        }
        return;
    }
    m_pidfd = fd;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                     [this, watched = *pid] { report(watched); });
}

void PidfdProcessWatcher::soundServerClientRemoved() {
    if (m_pid > 0 && m_pidfd < 0 && !m_gone.isActive() && hasEnded(m_pid)) {
        m_gone.start();
    }
}

void PidfdProcessWatcher::stopWatching() {
    m_pid = 0;
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
