#pragma once

// Keeps one Kivo per user: the first program listens on a local socket named after the user; a
// later start finds it answering, asks it to show its window and ends. A socket left by a
// program that crashed answers nobody and is replaced.
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
    // A later start asked this program to show its window.
    void activationRequested();

private:
    bool askRunningToShow() const;
    void onNewConnection();

    QString m_name;
    QLocalServer* m_server = nullptr;
};

} // namespace kivo
