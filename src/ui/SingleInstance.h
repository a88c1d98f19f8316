#pragma once

// Keeps one Kivo per user: the first program listens on a local socket named after the user; a
// later start finds it answering, asks it to show its window and ends. The later start hands over
// the activation token its launcher gave it (XDG_ACTIVATION_TOKEN), without which a Wayland
// compositor does not let the running window come to the front. A socket left by a program that
// crashed answers nobody and is replaced.
//
// Main thread only.

#include <QObject>
#include <QString>

class QLocalServer;

namespace kivo {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `name`: the socket's name or full path; empty: defaultName().
    explicit SingleInstance(QString name = QString(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // "kivo-" + the user id, in $XDG_RUNTIME_DIR when it is set, else in Qt's folder for local
    // sockets.
    static QString defaultName();

    // True when this program is the first and now listens; false when a running one answered
    // and was asked to show its window (this program should then end).
    bool claim();

    const QString& name() const { return m_name; }

signals:
    // A later start asked this program to show its window; `token` is its launcher's activation
    // token, empty when it had none.
    void activationRequested(const QString& token);

private:
    bool askRunningToShow() const;
    void onNewConnection();

    QString m_name;
    QLocalServer* m_server = nullptr;
};

} // namespace kivo
