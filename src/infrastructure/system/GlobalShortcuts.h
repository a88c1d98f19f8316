#pragma once

// Shortcuts that work wherever the focus is, through the desktop portal's GlobalShortcuts
// interface (offered by KDE's portal and newer GNOME ones; on Wayland the only way a program
// gets a key of its own). At start() Kivo opens a session and, unless the desktop lists them
// bound already, binds its shortcuts, each with a preferred trigger; the desktop's own dialog
// lets the person confirm or change them, and the portal reports the triggers bound. A desktop
// without the interface is no error: available() stays false and nothing is shown.
//
// Main thread only.

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

class QDBusMessage;

namespace kivo {

class GlobalShortcuts : public QObject {
    Q_OBJECT

public:
    struct Shortcut {
        QString id;               // the name Activated reports
        QString description;      // shown in the desktop's dialog
        QString preferredTrigger; // in the shortcuts notation ("CTRL+SHIFT+r"), empty for none
        QString trigger;          // as the portal describes the bound one; empty while unbound
    };
    enum class Availability { asking, unavailable, bound };

    static const QString kToggleRecord; // "toggle-record"
    static const QString kTogglePause;  // "toggle-pause"
    static const QString kShow;         // "show"

    explicit GlobalShortcuts(QObject* parent = nullptr);
    ~GlobalShortcuts() override;

    // Asks the portal on the session bus; returns at once.
    void start();

    Availability availability() const { return m_availability; }
    const QList<Shortcut>& shortcuts() const { return m_shortcuts; }

signals:
    // The person pressed the shortcut `id`.
    void activated(const QString& id);
    // The availability or a trigger changed.
    void changed();

private slots:
    void onResponse(const QDBusMessage& message);
    void onActivated(const QDBusMessage& message);
    void onShortcutsChanged(const QDBusMessage& message);

private:
    // What a request's Response does: `response` 0 is success, 1 cancelled, 2 failed.
    using Answer = std::function<void(uint response, const QVariantMap& results)>;

    // Calls the portal's `method` with a fresh request token in the options (the last argument)
    // and gives `then` the request's Response (a failed call as response 2).
    void request(const QString& method, QList<QVariant> arguments, Answer then);
    void listen(const QString& requestPath);
    // Binds the shortcuts unless the portal lists them bound already.
    void bindUnlessBound();
    void bind();
    void takeTriggers(const QVariant& shortcuts);
    void give(Availability availability);

    QList<Shortcut> m_shortcuts;
    Availability m_availability = Availability::asking;
    QString m_session; // the session's object path, once created
    int m_nextToken = 0;
    QHash<QString, Answer> m_requests; // on their way, by the path their Response comes from
};

} // namespace kivo
