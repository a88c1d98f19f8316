#include "TestMain.h"

#include "infrastructure/system/LogindSleepMonitor.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

const QString kHeld = u"[('sleep', 'Kivo', '正在保存錄音，完成後才會睡眠。', 'delay',"_s;
const QString kNone = u"(@a(ssssuu) [],)"_s;
const QString kListInhibitors = u"org.freedesktop.login1.Manager.ListInhibitors"_s;
const QString kEmitSignal = u"org.freedesktop.DBus.Mock.EmitSignal"_s;

} // namespace

// The computer going to sleep, and the lock that keeps it awake while a recording is saved:
// against a D-Bus daemon of the test's own with python-dbusmock's logind on it.
class LogindSleepMonitorTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const auto socket = u"--address=unix:path="_s + m_folder.filePath(u"bus"_s);
        m_daemon.start(u"dbus-daemon"_s,
                       {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s, socket});
        QVERIFY(m_daemon.waitForReadyRead(5000));
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, m_address);
        m_logind.setProcessEnvironment(environment);
        m_logind.start(u"/usr/bin/python3"_s,
                       {u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s, u"logind"_s});
        QCOMPARE(
            QProcess::execute(u"gdbus"_s, {u"wait"_s, u"--address"_s, m_address, u"--timeout"_s,
                                           u"10"_s, u"org.freedesktop.login1"_s}),
            0);
    }

    void cleanupTestCase() {
        for (auto* process : {&m_logind, &m_daemon}) {
            process->kill();
            process->waitForFinished();
        }
    }

    void theLockLastsUntilReleasedAndSleepIsAnnounced() {
        int sleeps = 0;
        LogindSleepMonitor monitor(m_address);
        monitor.onWillSleep = [&] { ++sleeps; };
        const auto inhibitors = [&] { return callLogind(kListInhibitors); };
        const auto locks = [&] { return inhibitors().count(u"('sleep'"_s); };

        // Released and asked for again before logind answered: only the last answer is kept.
        monitor.holdSleep();
        monitor.holdSleep();
        monitor.releaseSleep();
        monitor.holdSleep();
        // Logind answers before it sends the signals, and the monitor hears them: it subscribed
        // before it first asked for the lock.
        const auto prepareForSleep = u"org.freedesktop.login1.Manager PrepareForSleep b"_s;
        callLogind(kEmitSignal, prepareForSleep.split(u' ') << u"[<false>]"_s); // waking up
        callLogind(kEmitSignal, prepareForSleep.split(u' ') << u"[<true>]"_s);
        QTRY_VERIFY(sleeps > 0);
        QTest::qWait(100);
        QCOMPARE(sleeps, 1);
        QTRY_COMPARE(locks(), 1);
        QVERIFY(inhibitors().contains(kHeld));
        monitor.releaseSleep();
        QTRY_VERIFY(inhibitors().startsWith(kNone));
    }

    void withoutASystemBusNothingHappensAndNothingIsPrinted() {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        // The first use of the system bus in this process: it is looked for here.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS",
                "unix:path=" + QFile::encodeName(m_folder.filePath(u"none"_s)));
        LogindSleepMonitor monitor;
        monitor.holdSleep();
        QTest::qWait(100); // the answer, if any
        monitor.releaseSleep();
    }

private:
    // A method of logind's object; its answer as gdbus prints it.
    QString callLogind(const QString& method, const QStringList& arguments = {}) const {
        QProcess gdbus;
        gdbus.start(u"gdbus"_s, QStringList{u"call"_s, u"--address"_s, m_address, u"--dest"_s,
                                            u"org.freedesktop.login1"_s, u"--object-path"_s,
                                            u"/org/freedesktop/login1"_s, u"--method"_s, method} +
                                    arguments);
        gdbus.waitForFinished();
        return QString::fromUtf8(gdbus.readAllStandardOutput());
    }

    QTemporaryDir m_folder;
    QProcess m_daemon;
    QProcess m_logind;
    QString m_address;
};

KIVO_TEST_CLASS(LogindSleepMonitorTest)
#include "LogindSleepMonitorTest.moc"
