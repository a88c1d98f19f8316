#pragma once

// Asks the desktop not to suspend or blank the screen for idleness while a recording runs, the
// first way that answers: the desktop portal's Inhibit (GNOME, KDE and sandboxes), the session
// bus's org.freedesktop.ScreenSaver (older desktops), or a logind "idle" block (no desktop at
// all). A suspend the user asks for still happens: it goes through the sleep monitor's delay.
// Without a bus or any of these services nothing is held and nothing fails.
//
// Main thread only; answers arrive on the main thread.

#include "application/PlatformServices.h"
#include "infrastructure/system/BusConnection.h"

#include <QObject>
#include <QString>

#include <optional>

class QDBusMessage;

namespace kivo {

class DesktopIdleInhibitor final : public QObject, public IdleInhibitor {
    Q_OBJECT

public:
    // What the desktop shows as the reason, where it lists who keeps it awake.
    static const QString kReason;

    // The user's session and system buses, or, for tests, the buses at these addresses.
    explicit DesktopIdleInhibitor(const QString& sessionBusAddress = QString(),
                                  const QString& systemBusAddress = QString());
    ~DesktopIdleInhibitor() override;
    DesktopIdleInhibitor(const DesktopIdleInhibitor&) = delete;
    DesktopIdleInhibitor& operator=(const DesktopIdleInhibitor&) = delete;

    // Asks the services in turn until one grants it. Does nothing while held or asked for.
    void inhibitIdle() override;
    // Ends what is held, and what an answer still on its way grants.
    void releaseIdle() override;

private:
    enum class Service { portal, screenSaver, logind };
    // What one service granted, enough to end it.
    struct Hold {
        Service service;
        QString requestPath; // the portal's request object
        uint cookie = 0;     // the screen saver's
        int fd = -1;         // logind's lock: our copy of its file descriptor
    };

    void ask(Service service, quint64 request);
    std::optional<Hold> holdFrom(Service service, const QDBusMessage& reply) const;
    void end(const Hold& hold);

    BusConnection m_session;
    BusConnection m_system;
    bool m_wanted = false;      // between inhibitIdle and releaseIdle
    quint64 m_request = 0;      // the latest request; answers to older ones are ended at once
    std::optional<Hold> m_hold; // what is held now
};

} // namespace kivo
