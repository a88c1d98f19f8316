#pragma once

// logind as python-dbusmock plays it, on a D-Bus daemon of the test's own, driven and read
// through gdbus: for the tests of going to sleep and of the lock that delays it.

#include <QProcess>
#include <QTemporaryDir>

namespace kivo::test {

class MockLogind {
public:
    MockLogind() {
        m_daemon.start(
            QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"),
             QStringLiteral("--print-address=1"),
             QStringLiteral("--address=unix:path=") + m_folder.filePath(QStringLiteral("bus"))});
        if (!m_daemon.waitForReadyRead(5000)) {
            return;
        }
        address = QString::fromUtf8(m_daemon.readLine().trimmed());
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        m_logind.setProcessEnvironment(environment);
        m_logind.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                        QStringLiteral("--system"), QStringLiteral("--template"),
                        QStringLiteral("logind")});
        running = QProcess::execute(QStringLiteral("gdbus"),
                                    {QStringLiteral("wait"), QStringLiteral("--address"), address,
                                     QStringLiteral("--timeout"), QStringLiteral("10"),
                                     QStringLiteral("org.freedesktop.login1")}) == 0;
    }
    ~MockLogind() {
        for (auto* process : {&m_logind, &m_daemon}) {
            process->kill();
            process->waitForFinished();
        }
    }
    MockLogind(const MockLogind&) = delete;
    MockLogind& operator=(const MockLogind&) = delete;

    // A method of logind's manager object; its answer as gdbus prints it.
    QString call(const QString& method, const QStringList& arguments = {}) const {
        QProcess gdbus;
        gdbus.start(
            QStringLiteral("gdbus"),
            QStringList{QStringLiteral("call"), QStringLiteral("--address"), address,
                        QStringLiteral("--dest"), QStringLiteral("org.freedesktop.login1"),
                        QStringLiteral("--object-path"), QStringLiteral("/org/freedesktop/login1"),
                        QStringLiteral("--method"), QStringLiteral("org.freedesktop.") + method} +
                arguments);
        gdbus.waitForFinished();
        return QString::fromUtf8(gdbus.readAllStandardOutput());
    }
    // The sleep locks logind holds.
    int sleepLocks() const {
        return static_cast<int>(call(QStringLiteral("login1.Manager.ListInhibitors"))
                                    .count(QStringLiteral("('sleep'")));
    }
    void prepareForSleep(bool start) const {
        call(QStringLiteral("DBus.Mock.EmitSignal"),
             {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
              QStringLiteral("b"),
              start ? QStringLiteral("[<true>]") : QStringLiteral("[<false>]")});
    }

    QString address;
    bool running = false;

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QProcess m_logind;
};

} // namespace kivo::test
