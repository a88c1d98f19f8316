#pragma once

// One D-Bus connection: the session or the system bus, or, for tests, the bus at an address of
// their own, opened for this object and closed with it.
//
// Main thread only.

#include <QString>

class QDBusConnection;

namespace kivo {

class BusConnection {
public:
    enum class Bus { session, system };

    // `address` empty: the user's session bus or the computer's system bus.
    BusConnection(Bus bus, const QString& address);
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    // Not connected when there is no such bus; calls on it then fail at once.
    QDBusConnection get() const;

private:
    Bus m_bus;
    QString m_name; // of the connection to the address; empty for the standard buses
};

} // namespace kivo
