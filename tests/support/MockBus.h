#pragma once

// logind as python-dbusmock plays it, on a D-Bus daemon of the test's own, driven and read
// through gdbus: for the tests of going to sleep and of the lock that delays it.

#include <QProcess>
#include <QTemporaryDir>

namespace kivo::test {
using namespace Qt::StringLiterals;

class MockLogind {
public:
    MockLogind() {
        m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s,
                                          u"--address=unix:path="_s + m_folder.filePath(u"bus"_s)});
        if (!m_daemon.waitForReadyRead(5000)) {
            return;
        }
        address = QString::fromUtf8(m_daemon.readLine().trimmed());
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, address);
        m_logind.setProcessEnvironment(environment);
        m_logind.start(u"/usr/bin/python3"_s,
                       {u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s, u"logind"_s});
        running = QProcess::execute(u"gdbus"_s, {u"wait"_s, u"--address"_s, address, u"--timeout"_s,
                                                 u"10"_s, u"org.freedesktop.login1"_s}) == 0;
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
        gdbus.start(u"gdbus"_s, QStringList{u"call"_s, u"--address"_s, address, u"--dest"_s,
                                            u"org.freedesktop.login1"_s, u"--object-path"_s,
                                            u"/org/freedesktop/login1"_s, u"--method"_s,
                                            u"org.freedesktop."_s + method} +
                                    arguments);
        gdbus.waitForFinished();
        return QString::fromUtf8(gdbus.readAllStandardOutput());
    }
    // The sleep locks logind holds.
    int sleepLocks() const {
        return static_cast<int>(call(u"login1.Manager.ListInhibitors"_s).count(u"('sleep'"_s));
    }
    void prepareForSleep(bool start) const {
        call(u"DBus.Mock.EmitSignal"_s, {u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s,
                                         u"b"_s, start ? u"[<true>]"_s : u"[<false>]"_s});
    }

    QString address;
    bool running = false;

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QProcess m_logind;
};

} // namespace kivo::test
