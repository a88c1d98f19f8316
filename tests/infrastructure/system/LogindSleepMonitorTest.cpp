#include "TestMain.h"

#include "infrastructure/system/LogindSleepMonitor.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

const QString kLogin1 = u"org.freedesktop.login1"_s;
const QString kPath = u"/org/freedesktop/login1"_s;
const QString kManager = u"org.freedesktop.login1.Manager"_s;

// A D-Bus daemon of the test's own, standing in for the system bus; with `withLogind`, logind
// on it is python-dbusmock's logind.
class PrivateBus {
public:
    explicit PrivateBus(bool withLogind) {
        m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s,
                                          u"--address=unix:path="_s + m_folder.filePath(u"bus"_s)});
        if (!m_daemon.waitForReadyRead(5000)) {
            return;
        }
        address = QString::fromUtf8(m_daemon.readLine().trimmed());
        m_connectionName = u"test-"_s + m_folder.path();
        bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, m_connectionName));
        if (withLogind) {
            auto environment = QProcessEnvironment::systemEnvironment();
            environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, address);
            m_mock.setProcessEnvironment(environment);
            m_mock.start(u"/usr/bin/python3"_s,
                         {u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s, u"logind"_s});
        }
    }
    ~PrivateBus() {
        bus.reset();
        QDBusConnection::disconnectFromBus(m_connectionName);
        for (auto* process : {&m_mock, &m_daemon}) {
            process->kill();
            process->waitForFinished();
        }
    }
    bool hasLogind() const { return bus->interface()->isServiceRegistered(kLogin1); }

    void emitPrepareForSleep(bool start) const {
        auto call = QDBusMessage::createMethodCall(kLogin1, kPath, u"org.freedesktop.DBus.Mock"_s,
                                                   u"EmitSignal"_s);
        call << kManager << u"PrepareForSleep"_s << u"b"_s << QVariantList{start};
        bus->call(call);
    }

    // what, who, why, mode of each lock logind holds.
    QList<QStringList> inhibitors() const {
        const auto reply = bus->call(
            QDBusMessage::createMethodCall(kLogin1, kPath, kManager, u"ListInhibitors"_s));
        QList<QStringList> locks;
        const auto list = reply.arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString what, who, why, mode;
            uint user = 0, process = 0;
            list.beginStructure();
            list >> what >> who >> why >> mode >> user >> process;
            list.endStructure();
            locks << QStringList{what, who, why, mode};
        }
        list.endArray();
        return locks;
    }

    QString address;
    std::unique_ptr<QDBusConnection> bus;

private:
    QTemporaryDir m_folder;
    QString m_connectionName;
    QProcess m_daemon;
    QProcess m_mock;
};

} // namespace

// The computer going to sleep, and the lock that keeps it awake while a recording is saved.
class LogindSleepMonitorTest : public QObject {
    Q_OBJECT

private slots:
    void theLockLastsUntilReleasedAndSleepIsAnnounced() {
        PrivateBus system(true);
        QVERIFY(!system.address.isEmpty());
        QTRY_VERIFY(system.hasLogind());
        int sleeps = 0;
        LogindSleepMonitor monitor(system.address);
        monitor.onWillSleep = [&] { ++sleeps; };

        monitor.holdSleep();
        monitor.holdSleep();
        const QStringList lock{u"sleep"_s, u"Kivo"_s, u"正在保存錄音，完成後才會睡眠。"_s,
                               u"delay"_s};
        QTRY_COMPARE(system.inhibitors(), QList<QStringList>{lock});

        // The lock was asked for after the monitor subscribed: the signals reach it.
        system.emitPrepareForSleep(false); // waking up
        system.emitPrepareForSleep(true);
        QTRY_COMPARE(sleeps, 1);
        QCOMPARE(system.inhibitors(), QList<QStringList>{lock});

        monitor.releaseSleep();
        QTRY_VERIFY(system.inhibitors().isEmpty());
        monitor.holdSleep();
        QTRY_COMPARE(system.inhibitors(), QList<QStringList>{lock});
    }

    void withoutLogindNothingHappensAndNothingIsPrinted_data() {
        QTest::addColumn<QString>("bus");
        QTest::newRow("no bus at the address") << u"missing"_s;
        QTest::newRow("a bus without logind") << u"private"_s;
        QTest::newRow("no system bus") << u"system"_s;
    }

    void withoutLogindNothingHappensAndNothingIsPrinted() {
        QFETCH(QString, bus);
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        QTemporaryDir nowhere;
        const auto missing = u"unix:path="_s + nowhere.filePath(u"missing"_s);
        std::unique_ptr<PrivateBus> system;
        QString address = missing;
        if (bus == u"private"_s) {
            system = std::make_unique<PrivateBus>(false);
            address = system->address;
        } else if (bus == u"system"_s) {
            // The first use of the system bus in this process.
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", missing.toUtf8());
            address.clear();
        }
        LogindSleepMonitor monitor(address);
        monitor.holdSleep();
        QTest::qWait(100); // the answer, if any
        monitor.releaseSleep();
    }
};

KIVO_TEST_CLASS(LogindSleepMonitorTest)
#include "LogindSleepMonitorTest.moc"
