#pragma once

// A D-Bus daemon of the test's own with services played by python-dbusmock, driven and read
// through gdbus: logind (going to sleep and its locks) and the desktop's idle services.

#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace kivo::test {
using namespace Qt::StringLiterals;

class MockBus {
public:
    MockBus() {
        m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s,
                                          u"--address=unix:path="_s + m_folder.filePath(u"bus"_s)});
        if (m_daemon.waitForReadyRead(5000)) {
            address = QString::fromUtf8(m_daemon.readLine().trimmed());
        }
    }
    ~MockBus() {
        for (auto& mock : m_mocks) {
            mock->kill();
            mock->waitForFinished();
        }
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    MockBus(const MockBus&) = delete;
    MockBus& operator=(const MockBus&) = delete;

    // Starts python-dbusmock with `arguments` (this bus stands for the session and the system
    // bus alike) and waits until it owns `name`.
    bool mock(const QStringList& arguments, const QString& name) {
        auto& process = *m_mocks.emplace_back(std::make_unique<QProcess>());
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, address);
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address);
        process.setProcessEnvironment(environment);
        process.start(u"/usr/bin/python3"_s, QStringList{u"-m"_s, u"dbusmock"_s} + arguments);
        return QProcess::execute(u"gdbus"_s, {u"wait"_s, u"--address"_s, address, u"--timeout"_s,
                                              u"10"_s, name}) == 0;
    }
    // A method call; its answer as gdbus prints it.
    QString call(const QString& name, const QString& path, const QString& method,
                 const QStringList& arguments = {}) const {
        QProcess gdbus;
        gdbus.start(u"gdbus"_s, QStringList{u"call"_s, u"--address"_s, address, u"--dest"_s, name,
                                            u"--object-path"_s, path, u"--method"_s, method} +
                                    arguments);
        gdbus.waitForFinished();
        return QString::fromUtf8(gdbus.readAllStandardOutput());
    }

    QString address;

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    std::vector<std::unique_ptr<QProcess>> m_mocks;
};

class MockLogind : public MockBus {
public:
    MockLogind() {
        running = mock({u"--system"_s, u"--template"_s, u"logind"_s}, u"org.freedesktop.login1"_s);
    }
    // A method of logind's manager object.
    QString call(const QString& method, const QStringList& arguments = {}) const {
        return MockBus::call(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s,
                             u"org.freedesktop."_s + method, arguments);
    }
    // The sleep locks logind holds.
    int sleepLocks() const {
        return static_cast<int>(call(u"login1.Manager.ListInhibitors"_s).count(u"('sleep'"_s));
    }
    void prepareForSleep(bool start) const {
        call(u"DBus.Mock.EmitSignal"_s, {u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s,
                                         u"b"_s, start ? u"[<true>]"_s : u"[<false>]"_s});
    }

    bool running = false;
};

} // namespace kivo::test
