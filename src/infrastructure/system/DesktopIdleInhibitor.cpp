#include "infrastructure/system/DesktopIdleInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

namespace kivo {

namespace {

const QString kApplication = QStringLiteral("Kivo");

// The portal's flags: 4 suspend, 8 idle (logging out and switching users stay allowed).
constexpr uint kPortalSuspendAndIdle = 4 | 8;

} // namespace

const QString DesktopIdleInhibitor::kReason = QStringLiteral("Kivo 正在錄音");

DesktopIdleInhibitor::DesktopIdleInhibitor(const QString& sessionBusAddress,
                                           const QString& systemBusAddress)
    : m_session(BusConnection::Bus::session, sessionBusAddress)
    , m_system(BusConnection::Bus::system, systemBusAddress) {}

DesktopIdleInhibitor::~DesktopIdleInhibitor() {
    releaseIdle();
}

void DesktopIdleInhibitor::inhibitIdle() {
    if (m_wanted) {
        return;
    }
    m_wanted = true;
    ask(Service::portal, ++m_request);
}

void DesktopIdleInhibitor::releaseIdle() {
    m_wanted = false;
    ++m_request;
    if (m_hold) {
        end(*std::exchange(m_hold, std::nullopt));
    }
}

void DesktopIdleInhibitor::ask(Service service, quint64 request) {
    QDBusMessage call;
    QDBusConnection bus = m_session.get();
    switch (service) {
    case Service::portal:
        call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                              QStringLiteral("/org/freedesktop/portal/desktop"),
                                              QStringLiteral("org.freedesktop.portal.Inhibit"),
                                              QStringLiteral("Inhibit"));
        call << QString() << kPortalSuspendAndIdle
             << QVariantMap{{QStringLiteral("reason"), kReason}};
        break;
    case Service::screenSaver:
        call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                              QStringLiteral("/org/freedesktop/ScreenSaver"),
                                              QStringLiteral("org.freedesktop.ScreenSaver"),
                                              QStringLiteral("Inhibit"));
        call << kApplication << kReason;
        break;
    case Service::logind:
        bus = m_system.get();
        call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("idle") << kApplication << kReason << QStringLiteral("block");
        break;
    }
    // A missing bus answers with an error at once, and the next service is asked.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, service, request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const std::optional<Hold> hold = holdFrom(service, finished->reply());
                if (request != m_request || !m_wanted) {
                    if (hold) {
                        end(*hold); // released, or asked for again, meanwhile
                    }
                } else if (hold) {
                    m_hold = hold;
                } else if (service != Service::logind) {
                    ask(static_cast<Service>(static_cast<int>(service) + 1), request);
                }
            });
}

std::optional<DesktopIdleInhibitor::Hold>
DesktopIdleInhibitor::holdFrom(Service service, const QDBusMessage& reply) const {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    const QVariant value = reply.arguments().constFirst();
    Hold hold{service, {}, 0, -1};
    switch (service) {
    case Service::portal:
        hold.requestPath = value.value<QDBusObjectPath>().path();
        return hold.requestPath.isEmpty() ? std::nullopt : std::optional(hold);
    case Service::screenSaver:
        hold.cookie = value.toUInt();
        return hold;
    case Service::logind:
        // The reply's descriptor closes with the reply: keep a copy of our own.
        hold.fd =
            ::fcntl(value.value<QDBusUnixFileDescriptor>().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
        return hold.fd >= 0 ? std::optional(hold) : std::nullopt;
    }
    return std::nullopt;
}

void DesktopIdleInhibitor::end(const Hold& hold) {
    switch (hold.service) {
    case Service::portal:
        m_session.get().asyncCall(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), hold.requestPath,
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
        break;
    case Service::screenSaver: {
        auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                                   QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                   QStringLiteral("org.freedesktop.ScreenSaver"),
                                                   QStringLiteral("UnInhibit"));
        call << hold.cookie;
        m_session.get().asyncCall(call);
        break;
    }
    case Service::logind:
        ::close(hold.fd); // logind ends the block once no copy of the descriptor is open
        break;
    }
}

} // namespace kivo
