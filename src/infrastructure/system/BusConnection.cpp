#include "infrastructure/system/BusConnection.h"

#include <QDBusConnection>

#include <atomic>

namespace kivo {

BusConnection::BusConnection(Bus bus, const QString& address)
    : m_bus(bus) {
    if (!address.isEmpty()) {
        static std::atomic<int> next{0};
        m_name = QStringLiteral("kivo-bus-%1").arg(next++);
        QDBusConnection::connectToBus(address, m_name);
    }
}

BusConnection::~BusConnection() {
    if (!m_name.isEmpty()) {
        QDBusConnection::disconnectFromBus(m_name);
    }
}

QDBusConnection BusConnection::get() const {
    if (!m_name.isEmpty()) {
        return QDBusConnection(m_name);
    }
    return m_bus == Bus::session ? QDBusConnection::sessionBus() : QDBusConnection::systemBus();
}

} // namespace kivo
