#include "CaptureTestSupport.h"
#include "ModelTestSupport.h"
#include "TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace kivo;
using namespace kivo::test;

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

class Cli {
public:
    explicit Cli(const UserFolders& folders)
        : m_environment(folders.environment()) {}

    QProcess* startProcess(const QStringList& arguments) {
        auto* process = new QProcess;
        process->setProcessEnvironment(m_environment);
        process->start(QStringLiteral(KIVO_CLI), arguments);
        return process;
    }

    Run run(const QStringList& arguments, int timeoutMs = 30000) {
        std::unique_ptr<QProcess> process(startProcess(arguments));
        return finish(*process, timeoutMs);
    }

    static Run finish(QProcess& process, int timeoutMs = 30000) {
        process.waitForFinished(timeoutMs);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QProcessEnvironment m_environment;
};

const QStringList kRecord{QStringLiteral("record"),   QStringLiteral("--no-mic"),
                          QStringLiteral("--format"), QStringLiteral("wav"),
                          QStringLiteral("--name"),   QStringLiteral("會議")};

QJsonArray listedJson(Cli& cli) {
    const Run list = cli.run({QStringLiteral("list"), QStringLiteral("--json")});
    return QJsonDocument::fromJson(list.out.toUtf8()).array();
}

// Waits until a recording of another process has its session folder.
bool waitForSession(const UserFolders& folders) {
    return waitUntil(
        [&] {
            return !QDir(folders.captures()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty();
        },
        10000);
}

} // namespace

class KivoCliTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void recordingsAreKeptListedRenamedAndTrashed() {
        UserFolders folders;
        Cli cli(folders);
        TestPlayer player({QStringLiteral("default,tone,440,0.3,0,forever")});
        QVERIFY(player.waitPlaying(0));
        const Run record =
            cli.run(kRecord + QStringList{QStringLiteral("--seconds"), QStringLiteral("1")});
        QVERIFY2(record.code == 0, qPrintable(record.err));
        QVERIFY(record.err.contains(QStringLiteral("已保存「會議」。")));
        const QJsonObject printed = QJsonDocument::fromJson(record.out.toUtf8()).object();
        const QString id = printed.value(QStringLiteral("id")).toString();
        QVERIFY(!id.isEmpty());

        QCOMPARE(listedJson(cli), QJsonArray{printed}); // the stored form, as printed
        const Run table =
            cli.run({QStringLiteral("list"), QStringLiteral("--source"), QStringLiteral("system")});
        QVERIFY(table.out.startsWith(id + u'\t') && table.out.contains(QStringLiteral("\t會議")));
        QVERIFY(
            cli.run({QStringLiteral("list"), QStringLiteral("--search"), QStringLiteral("週報")})
                .out.isEmpty());

        QCOMPARE(cli.run({QStringLiteral("rename"), id.toLower(), QStringLiteral("週報")}).code, 0);
        QCOMPARE(listedJson(cli)[0].toObject().value(QStringLiteral("name")).toString(),
                 QStringLiteral("週報"));
        QCOMPARE(cli.run({QStringLiteral("trash"), QUuid::createUuid().toString()}).code, 4);
        const Run trashed = cli.run({QStringLiteral("trash"), id});
        QCOMPARE(trashed.code, 0);
        QVERIFY(trashed.err.contains(QStringLiteral("已移至垃圾桶。")));
        QVERIFY(listedJson(cli).isEmpty());
        QVERIFY(filesIn(folders.outputPath()).isEmpty());
        QCOMPARE(filesIn(folders.trash()).size(), 1);
    }

    void aSecondWriterIsRefusedAndTheFirstGoesOn() {
        UserFolders folders;
        Cli cli(folders);
        TestPlayer player({QStringLiteral("default,tone,440,0.3,0,forever")});
        QVERIFY(player.waitPlaying(0));
        std::unique_ptr<QProcess> first(cli.startProcess(kRecord));
        QVERIFY(waitForSession(folders));
        QTest::qWait(1000);

        const Run second =
            cli.run(kRecord + QStringList{QStringLiteral("--seconds"), QStringLiteral("1")});
        QCOMPARE(second.code, 5);
        QVERIFY(second.err.contains(AppModel::kLockedMessage));
        QCOMPARE(
            cli.run({QStringLiteral("rename"), QUuid::createUuid().toString(), QStringLiteral("x")})
                .code,
            5);
        QCOMPARE(cli.run({QStringLiteral("list")}).code, 0); // looking needs no lock

        // A closed terminal saves, as Ctrl+C does.
        ::kill(static_cast<pid_t>(first->processId()), SIGHUP);
        const Run firstRun = Cli::finish(*first);
        QVERIFY2(firstRun.code == 0, qPrintable(firstRun.err));
        QCOMPARE(listedJson(cli).size(), 1);
    }

    void aKilledRecordingIsRecoveredWholeButItsLastSecond() {
        UserFolders folders;
        Cli cli(folders);
        TestPlayer player({QStringLiteral("default,tone,440,0.3,0,forever")});
        QVERIFY(player.waitPlaying(0));
        std::unique_ptr<QProcess> recording(cli.startProcess(kRecord));
        QVERIFY(waitForSession(folders));
        QElapsedTimer running;
        running.start();
        QTest::qWait(2500);
        const double elapsed = static_cast<double>(running.elapsed()) / 1000.0;
        ::kill(static_cast<pid_t>(recording->processId()), SIGKILL);
        recording->waitForFinished();

        const Run listed = cli.run({QStringLiteral("recover")});
        QCOMPARE(listed.code, 0);
        const QString id = listed.out.section(u'\t', 0, 0);
        QVERIFY(listed.out.contains(QStringLiteral("\t會議")));
        const Run recovered = cli.run({QStringLiteral("recover"), id});
        QVERIFY2(recovered.code == 0, qPrintable(recovered.err));
        QVERIFY(recovered.err.contains(QStringLiteral("已復原「會議」。")));
        QVERIFY(cli.run({QStringLiteral("recover")}).out.isEmpty());

        const QJsonArray records = listedJson(cli);
        QCOMPARE(records.size(), 1);
        const double duration = records[0].toObject().value(QStringLiteral("duration")).toDouble();
        QVERIFY2(duration >= elapsed - 1.0, qPrintable(QString::number(duration)));
        const QString file =
            QUrl(records[0].toObject().value(QStringLiteral("files")).toArray()[0].toString())
                .toLocalFile();
        const StereoSamples audio = decodeFile(file);
        QVERIFY(audio.frames() >= static_cast<qint64>((elapsed - 1.0) * 48000));
        QVERIFY(
            toneAmplitude(window(audio.left, 9600, static_cast<qint64>((elapsed - 1.0) * 48000)),
                          440) > 0.2);
    }

    void failuresSayWhyAndExitNonZero_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString noServer = QStringLiteral("無法連線到音訊伺服器。");
        QTest::newRow("devices without a server") << QStringList{QStringLiteral("devices")}
                                                  << QStringLiteral("no server") << 1 << noServer;
        QTest::newRow("apps without a server")
            << QStringList{QStringLiteral("apps")} << QStringLiteral("no server") << 1 << noServer;
        QTest::newRow("unreadable library")
            << QStringList{QStringLiteral("list")} << QStringLiteral("unreadable") << 5
            << QStringLiteral("無法讀取錄音紀錄。");
        QTest::newRow("recover from an unreadable library")
            << QStringList{QStringLiteral("recover"), QStringLiteral("--all")}
            << QStringLiteral("unreadable") << 5 << QStringLiteral("無法讀取錄音紀錄。");
        QTest::newRow("option as a value")
            << QStringList{QStringLiteral("record"), QStringLiteral("--seconds"),
                           QStringLiteral("--name"), QStringLiteral("x")}
            << QString() << 2 << QStringLiteral("選項 --seconds 需要一個值。");
        QTest::newRow("unknown session")
            << QStringList{QStringLiteral("recover"), QUuid::createUuid().toString()} << QString()
            << 4 << QStringLiteral("找不到編號為");
    }
    void failuresSayWhyAndExitNonZero() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, setting);
        QFETCH(int, code);
        QFETCH(QString, message);
        UserFolders folders;
        Cli cli(folders);
        if (setting == u"no server") {
            cli.m_environment.insert(QStringLiteral("PULSE_SERVER"),
                                     QStringLiteral("unix:/nonexistent/native"));
        } else if (setting == u"unreadable") {
            QDir().mkpath(folders.library());
            QFile document(folders.library() + QStringLiteral("/library.json"));
            QVERIFY(document.open(QIODevice::WriteOnly));
            document.write("not json");
        }
        const Run result = cli.run(arguments);
        QCOMPARE(result.code, code);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    }
};

KIVO_TEST_CLASS(KivoCliTest)
#include "KivoCliTest.moc"
