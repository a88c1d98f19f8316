#include "TestMain.h"

#include "infrastructure/system/PidfdProcessWatcher.h"

#include <QProcess>
#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

// Telling when the recorded process exits, with real processes.
class PidfdProcessWatcherTest : public QObject {
    Q_OBJECT

private slots:
    void reportsTheExitOfTheProcessWatchedLastOnce_data() {
        QTest::addColumn<QString>("then");
        QTest::addColumn<int>("reported"); // the process whose exit is reported; -1: none
        QTest::newRow("the watched process") << QString() << 0;
        QTest::newRow("one already gone") << u"gone"_s << 0;
        QTest::newRow("another process instead") << u"second"_s << 1;
        QTest::newRow("nothing any more") << u"absent"_s << -1;
    }

    void reportsTheExitOfTheProcessWatchedLastOnce() {
        QFETCH(QString, then);
        QFETCH(int, reported);
        QProcess processes[2];
        QList<qint32> pids;
        for (auto& process : processes) {
            process.start(u"sleep"_s, {u"60"_s});
            QVERIFY(process.waitForStarted());
            pids << static_cast<qint32>(process.processId());
        }
        const auto end = [](QProcess& process) {
            process.kill();
            process.waitForFinished();
        };
        QList<qint32> exits;
        PidfdProcessWatcher watcher;
        watcher.onExit = [&](qint32 pid) { exits << pid; };

        if (then == u"gone"_s) {
            end(processes[0]);
        }
        watcher.watch(pids[0]);
        QVERIFY(exits.isEmpty()); // reported from the event loop, not from within `watch`
        if (then == u"second"_s) {
            watcher.watch(pids[1]);
        } else if (then == u"absent"_s) {
            watcher.watch(std::nullopt);
        }
        end(processes[0]);
        end(processes[1]);
        const auto expected = reported < 0 ? QList<qint32>{} : QList<qint32>{pids[reported]};
        QTRY_COMPARE(exits, expected);
        QTest::qWait(100);
        QCOMPARE(exits, expected);
    }
};

KIVO_TEST_CLASS(PidfdProcessWatcherTest)
#include "PidfdProcessWatcherTest.moc"
