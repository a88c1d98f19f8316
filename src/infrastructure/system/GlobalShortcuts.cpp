#include "infrastructure/system/GlobalShortcuts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <algorithm>

namespace {

// One shortcut as the portal passes it: (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace kivo {

const QString GlobalShortcuts::kToggleRecord = QStringLiteral("toggle-record");
const QString GlobalShortcuts::kTogglePause = QStringLiteral("toggle-pause");
const QString GlobalShortcuts::kShow = QStringLiteral("show");

namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

// A list of shortcuts as the portal answers it, (sa{sv}) each; empty when it is not one.
QList<PortalShortcut> shortcutsIn(const QVariant& value) {
    return value.canConvert<QDBusArgument>()
               ? qdbus_cast<QList<PortalShortcut>>(value.value<QDBusArgument>())
               : QList<PortalShortcut>();
}

QString pathOf(const QVariant& value) {
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                               : value.toString();
}

} // namespace

GlobalShortcuts::GlobalShortcuts(QObject* parent)
    : QObject(parent)
    , m_shortcuts{{kToggleRecord, QStringLiteral("開始或停止錄音"), QStringLiteral("CTRL+SHIFT+r"),
                   QString()},
                  {kTogglePause, QStringLiteral("暫停或繼續錄音"), QStringLiteral("CTRL+SHIFT+p"),
                   QString()},
                  {kShow, QStringLiteral("顯示 Kivo"), QString(), QString()}} {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

GlobalShortcuts::~GlobalShortcuts() {
    if (!m_session.isEmpty()) {
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(kPortal, m_session,
                                           QStringLiteral("org.freedesktop.portal.Session"),
                                           QStringLiteral("Close")),
            QDBus::NoBlock);
    }
}

void GlobalShortcuts::start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        give(Availability::unavailable);
        return;
    }
    // A portal without the interface answers the question for its version with an error.
    auto ask = QDBusMessage::createMethodCall(kPortal, kPortalPath,
                                              QStringLiteral("org.freedesktop.DBus.Properties"),
                                              QStringLiteral("Get"));
    ask << kInterface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            give(Availability::unavailable);
            return;
        }
        QDBusConnection::sessionBus().connect(kPortal, kPortalPath, kInterface,
                                              QStringLiteral("Activated"), this,
                                              SLOT(onActivated(QDBusMessage)));
        QDBusConnection::sessionBus().connect(kPortal, kPortalPath, kInterface,
                                              QStringLiteral("ShortcutsChanged"), this,
                                              SLOT(onShortcutsChanged(QDBusMessage)));
        request(QStringLiteral("CreateSession"),
                {QVariantMap{{QStringLiteral("session_handle_token"), QStringLiteral("kivo")}}},
                [this](uint response, const QVariantMap& results) {
                    m_session = pathOf(results.value(QStringLiteral("session_handle")));
                    if (response != 0 || m_session.isEmpty()) {
                        give(Availability::unavailable);
                        return;
                    }
                    bindUnlessBound();
                });
    });
}

void GlobalShortcuts::bindUnlessBound() {
    // The desktop keeps what the person confirmed once: asking again would show its dialog at
    // every start.
    request(QStringLiteral("ListShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariantMap()},
            [this](uint response, const QVariantMap& results) {
                const auto listed = results.value(QStringLiteral("shortcuts"));
                const auto bound = shortcutsIn(listed);
                const bool all = std::all_of(
                    m_shortcuts.begin(), m_shortcuts.end(), [&](const Shortcut& shortcut) {
                        return std::any_of(bound.begin(), bound.end(),
                                           [&](const auto& one) { return one.id == shortcut.id; });
                    });
                if (response != 0 || !all) {
                    bind();
                    return;
                }
                takeTriggers(listed);
                give(Availability::bound);
            });
}

void GlobalShortcuts::bind() {
    QList<PortalShortcut> shortcuts;
    for (const Shortcut& shortcut : m_shortcuts) {
        QVariantMap properties{{QStringLiteral("description"), shortcut.description}};
        if (!shortcut.preferredTrigger.isEmpty()) {
            properties.insert(QStringLiteral("preferred_trigger"), shortcut.preferredTrigger);
        }
        shortcuts.append({shortcut.id, properties});
    }
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts),
             QString(), QVariantMap()},
            [this](uint response, const QVariantMap& results) {
                // Declined in the desktop's dialog: the portal is there, nothing is bound.
                if (response == 0) {
                    takeTriggers(results.value(QStringLiteral("shortcuts")));
                }
                give(Availability::bound);
            });
}

void GlobalShortcuts::request(const QString& method, QList<QVariant> arguments, Answer then) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = QStringLiteral("kivo%1").arg(++m_nextToken);
    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    // The Response may come before the call's answer: listen where the portal will send it.
    const QString sender = bus.baseService().mid(1).replace(u'.', u'_');
    const QString expected = kPortalPath + QStringLiteral("/request/") + sender + u'/' + token;
    m_requests.insert(expected, then);
    listen(expected);
    auto message = QDBusMessage::createMethodCall(kPortal, kPortalPath, kInterface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, expected](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *w;
                if (reply.isError()) {
                    if (const Answer answer = m_requests.take(expected)) {
                        answer(2, {});
                    }
                    return;
                }
                // An older portal names the request its own way.
                const QString handle = reply.value().path();
                if (handle != expected && m_requests.contains(expected)) {
                    m_requests.insert(handle, m_requests.take(expected));
                    listen(handle);
                }
            });
}

void GlobalShortcuts::listen(const QString& requestPath) {
    QDBusConnection::sessionBus().connect(kPortal, requestPath, kRequest,
                                          QStringLiteral("Response"), this,
                                          SLOT(onResponse(QDBusMessage)));
}

void GlobalShortcuts::onResponse(const QDBusMessage& message) {
    const Answer answer = m_requests.take(message.path());
    QDBusConnection::sessionBus().disconnect(kPortal, message.path(), kRequest,
                                             QStringLiteral("Response"), this,
                                             SLOT(onResponse(QDBusMessage)));
    const auto arguments = message.arguments();
    if (answer && arguments.size() >= 2) {
        answer(arguments.at(0).toUInt(), qdbus_cast<QVariantMap>(arguments.at(1)));
    }
}

void GlobalShortcuts::onActivated(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    if (arguments.size() >= 2 && pathOf(arguments.at(0)) == m_session) {
        emit activated(arguments.at(1).toString());
    }
}

void GlobalShortcuts::onShortcutsChanged(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    if (arguments.size() >= 2 && pathOf(arguments.at(0)) == m_session) {
        takeTriggers(arguments.at(1));
        emit changed();
    }
}

void GlobalShortcuts::takeTriggers(const QVariant& shortcuts) {
    const auto bound = shortcutsIn(shortcuts);
    for (Shortcut& shortcut : m_shortcuts) {
        shortcut.trigger.clear();
        for (const PortalShortcut& one : bound) {
            if (one.id == shortcut.id) {
                shortcut.trigger =
                    one.properties.value(QStringLiteral("trigger_description")).toString();
            }
        }
    }
}

void GlobalShortcuts::give(Availability availability) {
    m_availability = availability;
    emit changed();
}

} // namespace kivo
