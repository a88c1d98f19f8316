#include "MockBus.h"
#include "TestMain.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/system/FreedesktopTrash.h"
#include "infrastructure/system/LogindSleepMonitor.h"
#include "infrastructure/system/PidfdProcessWatcher.h"
#include "infrastructure/system/PulseSourceCatalog.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

// The trash, process exits, the application order and the sleep lock, on real parts: a home
// folder and processes of the test's own, and python-dbusmock's logind on a private D-Bus daemon.
class LinuxSystemTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qputenv("HOME", QFile::encodeName(m_folder.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_folder.filePath(u"data"_s)));
        m_logind = std::make_unique<test::MockLogind>();
        QVERIFY(m_logind->running);
    }

    // The data folder does not exist yet, as in a fresh home folder.
    void trashTakesAFileAndNamesAMissingOne() {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        const auto path = m_folder.filePath(u"會議.m4a"_s);
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        FreedesktopTrash().moveToTrash(path);
        QVERIFY(!QFile::exists(path));
        QVERIFY(QFile::exists(m_folder.filePath(u"data/Trash/files/會議.m4a"_s)));
        QVERIFY(QFile::exists(m_folder.filePath(u"data/Trash/info/會議.m4a.trashinfo"_s)));
        QCOMPARE(test::thrownText<PlatformError>([&] { FreedesktopTrash().moveToTrash(path); }),
                 u"無法將「%1」移至垃圾桶：檔案不存在"_s.arg(path));
    }

    // Without pidfds, the sound server's news of a client gone stands in for the exit.
    void reportsTheExitOfTheProcessWatchedLastOnce_data() {
        QTest::addColumn<QString>("then");
        QTest::addColumn<bool>("pidfd");
        QTest::addColumn<int>("reported"); // the process whose exit is reported; -1: none
        for (const bool pidfd : {true, false}) {
            const char* kind = pidfd ? "" : ", no pidfd";
            QTest::addRow("the watched process%s", kind) << QString() << pidfd << 0;
            QTest::addRow("one already gone%s", kind) << u"gone"_s << pidfd << 0;
            QTest::addRow("another process instead%s", kind) << u"second"_s << pidfd << 1;
        }
        QTest::newRow("nothing any more") << u"absent"_s << true << -1;
    }
    void reportsTheExitOfTheProcessWatchedLastOnce() {
        QFETCH(QString, then);
        QFETCH(bool, pidfd);
        QFETCH(int, reported);
        QProcess processes[2];
        QList<qint32> pids, exits;
        for (auto& process : processes) {
            process.start(u"sleep"_s, {u"60"_s});
            QVERIFY(process.waitForStarted());
            pids << static_cast<qint32>(process.processId());
        }
        const auto end = [](QProcess& process) { process.kill(), process.waitForFinished(); };
        PidfdProcessWatcher watcher(pidfd);
        watcher.onExit = [&](qint32 pid) { exits << pid; };
        if (then == u"gone"_s) {
            end(processes[0]);
        }
        watcher.watch(pids[0]);
        QVERIFY(exits.isEmpty()); // reported from the event loop, not from within `watch`
        if (then == u"second"_s || then == u"absent"_s) {
            watcher.watch(then == u"second"_s ? std::optional(pids[1]) : std::nullopt);
        }
        watcher.soundServerClientRemoved(); // while the process lives: nothing
        QTest::qWait(50);
        QVERIFY(then == u"gone"_s || exits.isEmpty());
        end(processes[0]);
        end(processes[1]);
        watcher.soundServerClientRemoved();
        const auto expected = reported < 0 ? QList<qint32>{} : QList<qint32>{pids[reported]};
        QTRY_COMPARE(exits, expected);
        QTest::qWait(100);
        QCOMPARE(exits, expected);
    }

    // Case ignored, digits by value, equal names in their order (enough for an unstable sort).
    void applicationsAreOrderedByNameAsPeopleReadThem() {
        std::vector<RunningAudioApp> apps{
            {0, u"b"_s, {}, {}}, {1, u"A"_s, {}, {}}, {2, u"a10"_s, {}, {}}, {3, u"a9"_s, {}, {}}};
        QList<qint32> sorted, expected{1, 3, 2, 0};
        for (qint32 i = 4; i < 44; ++i) {
            apps.push_back({i, QStringList{u"c"_s, u"C"_s}[i % 2], std::nullopt, std::nullopt});
            expected << i;
        }
        for (const auto& app : PulseSourceCatalog::sortedByName(apps)) {
            sorted << app.id;
        }
        QCOMPARE(sorted, expected);
    }

    void theSleepLockLastsUntilReleasedAndSleepIsAnnounced() {
        int sleeps = 0;
        LogindSleepMonitor monitor(m_logind->address);
        monitor.onWillSleep = [&] { ++sleeps; };
        const auto inhibitors = [&] { return m_logind->call(u"login1.Manager.ListInhibitors"_s); };
        // Released and asked for again before logind answered: only the last answer is kept.
        monitor.holdSleep();
        monitor.holdSleep();
        monitor.releaseSleep();
        monitor.holdSleep();
        // Logind answers before it signals; the monitor subscribed before it asked for the lock.
        m_logind->prepareForSleep(false); // waking up
        m_logind->prepareForSleep(true);
        QTRY_VERIFY(sleeps > 0);
        QTest::qWait(100);
        QCOMPARE(sleeps, 1);
        QTRY_COMPARE(m_logind->sleepLocks(), 1);
        QVERIFY(inhibitors().contains(
            u"[('sleep', 'Kivo', '正在保存錄音，完成後才會睡眠。', 'delay',"_s));
        monitor.releaseSleep();
        QTRY_VERIFY(inhibitors().startsWith(u"(@a(ssssuu) [],)"_s));
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
    QTemporaryDir m_folder;
    std::unique_ptr<test::MockLogind> m_logind;
};

KIVO_TEST_CLASS(LinuxSystemTest)
#include "LinuxSystemTest.moc"
