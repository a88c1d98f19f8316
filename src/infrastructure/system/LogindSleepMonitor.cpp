#include "infrastructure/system/LogindSleepMonitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace kivo {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

LogindSleepMonitor::LogindSleepMonitor(const QString& busAddress)
    : m_bus(BusConnection::Bus::system, busAddress) {
    auto bus = m_bus.get();
    if (bus.isConnected()) {
        bus.connect(kService, kPath, kManager, QStringLiteral("PrepareForSleep"), this,
                    SLOT(prepareForSleep(bool)));
    }
}

LogindSleepMonitor::~LogindSleepMonitor() {
    releaseSleep();
}

void LogindSleepMonitor::holdSleep() {
    if (m_holding) {
        return;
    }
    m_holding = true;
    auto bus = m_bus.get();
    if (!bus.isConnected()) {
        return;
    }
    auto call =
        QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Kivo")
         << QStringLiteral("正在保存錄音，完成後才會睡眠。") << QStringLiteral("delay");
    const auto request = ++m_request;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                // The reply's descriptor is closed with the reply: an answer to a hold released
                // meanwhile (or asked for again) ends its lock that way.
                if (reply.isValid() && m_holding && request == m_request) {
                    m_lock = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
                }
            });
}

void LogindSleepMonitor::releaseSleep() {
    m_holding = false;
    ++m_request;
    if (m_lock >= 0) {
        ::close(m_lock); // logind ends the lock once no copy of the descriptor is open
        m_lock = -1;
    }
}

void LogindSleepMonitor::prepareForSleep(bool start) {
    // PrepareForSleep(false) announces the wake-up.
    if (start && onWillSleep) {
        onWillSleep();
    }
}

} // namespace kivo
