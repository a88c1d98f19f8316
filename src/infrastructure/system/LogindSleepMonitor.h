#pragma once

// The computer going to sleep, from logind on the system bus (its PrepareForSleep signal), and a
// delay lock of logind's that keeps the computer awake while a recording is being saved (logind
// waits, within its own limit, until the lock's file descriptor is closed). Without a system bus
// or without logind nothing is reported and the hold does nothing.
//
// Main thread only; `onWillSleep` is called on the main thread.

#include "application/PlatformServices.h"
#include "infrastructure/system/BusConnection.h"

#include <QObject>
#include <QString>

namespace kivo {

class LogindSleepMonitor final : public QObject, public SleepMonitor {
    Q_OBJECT

public:
    // The system bus, or, for tests, the bus at `busAddress` (a D-Bus address such as
    // "unix:path=/tmp/bus").
    explicit LogindSleepMonitor(const QString& busAddress = QString());
    ~LogindSleepMonitor() override;

    // Asks logind for the lock; the answer arrives later on the main thread. Does nothing while
    // held or asked for.
    void holdSleep() override;
    // Closes the lock (or drops the answer still on its way). Does nothing when not held.
    void releaseSleep() override;

private slots:
    void prepareForSleep(bool start);

private:
    BusConnection m_bus;
    bool m_holding = false; // between holdSleep and releaseSleep
    quint64 m_request = 0;  // the latest lock request; older answers are dropped
    int m_lock = -1;        // logind's lock: our copy of its file descriptor
};

} // namespace kivo
