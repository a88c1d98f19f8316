#include "TestMain.h"

#include "infrastructure/system/PidfdProcessWatcher.h"

#include <QProcess>
#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

// A real process that runs until killed.
struct Sleeper {
    Sleeper() {
        process.start(u"sleep"_s, {u"60"_s});
        process.waitForStarted();
    }
    ~Sleeper() { end(); }
    qint32 pid() const { return static_cast<qint32>(process.processId()); }
    void end() {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

} // namespace

// Telling when the recorded process exits.
class PidfdProcessWatcherTest : public QObject {
    Q_OBJECT

private slots:
    void reportsTheExitOfTheProcessWatchedLast_data() {
        QTest::addColumn<QString>("then");     // what is watched after the first process
        QTest::addColumn<QString>("reported"); // whose exit is reported
        QTest::newRow("the first process") << QString() << u"first"_s;
        QTest::newRow("another process instead") << u"second"_s << u"second"_s;
        QTest::newRow("nothing any more") << u"absent"_s << QString();
    }

    void reportsTheExitOfTheProcessWatchedLast() {
        QFETCH(QString, then);
        QFETCH(QString, reported);
        Sleeper first;
        Sleeper second;
        QList<qint32> exits;
        PidfdProcessWatcher watcher;
        watcher.onExit = [&](qint32 pid) { exits << pid; };

        watcher.watch(first.pid());
        if (then == u"second"_s) {
            watcher.watch(second.pid());
        } else if (then == u"absent"_s) {
            watcher.watch(std::nullopt);
        }
        const auto firstPid = first.pid();
        const auto secondPid = second.pid();
        first.end();
        second.end();
        QList<qint32> expected;
        if (!reported.isEmpty()) {
            expected << (reported == u"first"_s ? firstPid : secondPid);
        }
        QTRY_COMPARE(exits, expected);
        QTest::qWait(100); // and only once
        QCOMPARE(exits, expected);
    }

    void aProcessAlreadyGoneIsReportedFromTheEventLoop() {
        QProcess process;
        process.start(u"true"_s);
        process.waitForStarted();
        const auto pid = static_cast<qint32>(process.processId());
        process.waitForFinished();
        QList<qint32> exits;
        PidfdProcessWatcher watcher;
        watcher.onExit = [&](qint32 exited) { exits << exited; };

        watcher.watch(pid);
        QVERIFY(exits.isEmpty());
        QTRY_COMPARE(exits, QList<qint32>{pid});
        QTest::qWait(100);
        QCOMPARE(exits, QList<qint32>{pid});
    }
};

KIVO_TEST_CLASS(PidfdProcessWatcherTest)
#include "PidfdProcessWatcherTest.moc"
