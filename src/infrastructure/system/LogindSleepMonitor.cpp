#include "infrastructure/system/LogindSleepMonitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <atomic>

namespace kivo {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

QDBusConnection connectionNamed(const QString& name) {
    return name.isEmpty() ? QDBusConnection::systemBus() : QDBusConnection(name);
}

} // namespace

LogindSleepMonitor::LogindSleepMonitor(const QString& busAddress) {
    if (!busAddress.isEmpty()) {
        static std::atomic<int> next{0};
        m_connectionName = QStringLiteral("kivo-sleep-%1").arg(next++);
        QDBusConnection::connectToBus(busAddress, m_connectionName);
    }
    auto bus = connectionNamed(m_connectionName);
    if (bus.isConnected()) {
        bus.connect(kService, kPath, kManager, QStringLiteral("PrepareForSleep"), this,
                    SLOT(prepareForSleep(bool)));
    }
}

LogindSleepMonitor::~LogindSleepMonitor() {
    releaseSleep();
    if (!m_connectionName.isEmpty()) {
        QDBusConnection::disconnectFromBus(m_connectionName);
    }
}

void LogindSleepMonitor::holdSleep() {
    if (m_holding) {
        return;
    }
    m_holding = true;
    auto bus = connectionNamed(m_connectionName);
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
                // An answer to a hold released meanwhile is dropped, and its descriptor closed
                // with it.
                if (reply.isValid() && m_holding && request == m_request) {
                    m_lock = reply.value();
                }
            });
}

void LogindSleepMonitor::releaseSleep() {
    m_holding = false;
    ++m_request;
    m_lock = QDBusUnixFileDescriptor(); // closes our copy, which ends the lock
}

void LogindSleepMonitor::prepareForSleep(bool start) {
    // PrepareForSleep(false) announces the wake-up.
    if (start && onWillSleep) {
        onWillSleep();
    }
}

} // namespace kivo
