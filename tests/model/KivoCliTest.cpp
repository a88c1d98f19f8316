#include "CaptureTestSupport.h"
#include "MockBus.h"
#include "ModelTestSupport.h"
#include "TestMain.h"

#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/storage/LibraryStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <csignal>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

// kivo-cli as the user runs it, in the user's folders; `line` is split at spaces.
struct Cli {
    QProcessEnvironment environment;

    std::unique_ptr<QProcess> start(const QString& line) const {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->start(QStringLiteral(KIVO_CLI), line.split(u' '));
        return process;
    }
    Run run(const QString& line) const { return finish(*start(line)); }
    static Run finish(QProcess& process) {
        process.waitForFinished(30000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    QJsonArray listed() const {
        return QJsonDocument::fromJson(run(u"list --json"_s).out.toUtf8()).array();
    }
    // Starts a recording and waits until its session folder is there and a second has passed.
    std::unique_ptr<QProcess> startRecording(const UserFolders& folders) const {
        auto process = start(u"record --no-mic --format wav --name 會議"_s);
        const QDir captures(folders.captures());
        waitUntil([&] { return !captures.entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty(); },
                  10000);
        QTest::qWait(1000);
        return process;
    }
};

} // namespace

class KivoCliTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void recordingsAreKeptListedRenamedAndTrashed() {
        UserFolders folders;
        const Cli cli{folders.environment()};
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        // The defaults stored in the window, changed only where an option says so.
        KivoLibrary library(folders.output());
        library.settings = folders.configuration();
        library.settings.name = u"預設"_s;
        LibraryStore(folders.library(), folders.output()).save(library);
        const Run record = cli.run(u"record --seconds 1 --name 會議"_s);
        QVERIFY2(record.code == 0, qPrintable(record.err));
        QVERIFY(record.err.contains(u"已保存「會議」。"_s));
        const QJsonObject printed = QJsonDocument::fromJson(record.out.toUtf8()).object();
        RecordingConfiguration expected = library.settings;
        expected.name = u"會議"_s;
        QCOMPARE(RecordingConfiguration::fromJson(printed.value(u"configuration")), expected);
        const QString id = printed.value(u"id").toString();

        QCOMPARE(cli.listed(), QJsonArray{printed}); // the stored form, as printed
        const Run table = cli.run(u"list --source system"_s);
        QVERIFY(table.out.startsWith(id + u'\t') && table.out.contains(u"\t會議"_s));
        QVERIFY(cli.run(u"list --search 週報"_s).out.isEmpty());

        QCOMPARE(cli.run(u"rename "_s + id.toLower() + u" 週報"_s).code, 0);
        QCOMPARE(cli.listed()[0].toObject().value(u"name").toString(), u"週報"_s);
        QCOMPARE(cli.run(u"trash "_s + QUuid::createUuid().toString()).code, 4);
        const Run trashed = cli.run(u"trash "_s + id);
        QVERIFY(trashed.code == 0 && trashed.err.contains(u"已移至垃圾桶。"_s));
        QVERIFY(cli.listed().isEmpty() && filesIn(folders.outputPath()).isEmpty());
        QCOMPARE(filesIn(folders.trash()).size(), 1);
    }

    void oneWriterAtATimeAndAKilledRecordingIsRecovered() {
        UserFolders folders;
        const Cli cli{folders.environment()};
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        QVERIFY(QDir().mkpath(folders.outputPath()));
        const QString oldFile = folders.outputPath() + u"/舊.wav"_s;
        QVERIFY(QFile(oldFile).open(QIODevice::WriteOnly));
        KivoLibrary library(folders.output());
        library.recordings.append(RecordingRecord(QUuid::createUuid(), u"舊"_s, Date{1}, 1,
                                                  folders.configuration(),
                                                  {QUrl::fromLocalFile(oldFile)}));
        LibraryStore(folders.library(), folders.output()).save(library);
        const auto first = cli.startRecording(folders);
        const Run second = cli.run(u"record --seconds 1"_s);
        QCOMPARE(second.code, 5);
        QVERIFY(second.err.contains(AppModel::kLockedMessage));
        QCOMPARE(cli.run(u"rename "_s + QUuid::createUuid().toString() + u" x"_s).code, 5);
        QCOMPARE(cli.run(u"list"_s).code, 0); // looking needs no lock
        // A window opened meanwhile only looks: trashing is refused and changes nothing.
        auto viewer = folders.model();
        viewer->trash(library.recordings.front());
        QCOMPARE(viewer->alertMessage(), std::optional(AppModel::kLockedMessage));
        QVERIFY(QFile::exists(oldFile));
        // A closed terminal saves, as Ctrl+C does.
        ::kill(static_cast<pid_t>(first->processId()), SIGHUP);
        const Run firstRun = Cli::finish(*first);
        QVERIFY2(firstRun.code == 0, qPrintable(firstRun.err));
        // Then the window takes over, with both records.
        QTRY_VERIFY_WITH_TIMEOUT(viewer->storageAvailable(), 5000);
        QCOMPARE(viewer->library().recordings.size(), 2);
        viewer.reset();

        // On a session bus, where a marker reaches the recording; its notice means it is on disk.
        MockBus bus;
        Cli onBus = cli;
        onBus.environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address);
        const auto killed = onBus.startRecording(folders);
        QElapsedTimer running;
        running.start();
        QTest::qWait(500);
        QCOMPARE(bus.call(u"app.kivo.Kivo"_s, u"/app/kivo/Kivo"_s, u"app.kivo.Recorder1.Mark"_s,
                          {u"'決定'"_s})
                     .trimmed(),
                 u"()"_s);
        QByteArray said;
        QVERIFY(waitUntil([&] {
            killed->waitForReadyRead(50);
            said += killed->readAllStandardError();
            return said.contains("已加入標記「決定」。");
        }));
        const double markedAt = 1.0 + static_cast<double>(running.elapsed()) / 1000.0;
        QTest::qWait(1000);
        const double elapsed = 1.0 + static_cast<double>(running.elapsed()) / 1000.0;
        // The files written while recording go with the recovery.
        const auto unfinished = [&] {
            return QDir(folders.outputPath()).entryList({u".kivo-*"_s}, QDir::Files | QDir::Hidden);
        };
        QCOMPARE(unfinished().size(), 1);
        ::kill(static_cast<pid_t>(killed->processId()), SIGKILL);
        killed->waitForFinished();
        const Run listed = cli.run(u"recover"_s);
        QVERIFY(listed.code == 0 && listed.out.contains(u"\t會議"_s));
        const Run recovered = cli.run(u"recover "_s + listed.out.section(u'\t', 0, 0));
        QVERIFY2(recovered.code == 0, qPrintable(recovered.err));
        QVERIFY(recovered.err.contains(u"已復原「會議」。"_s));
        QVERIFY(cli.run(u"recover"_s).out.isEmpty());
        QVERIFY(unfinished().isEmpty());

        // Every frame older than a second before the kill is in the file, and the marker.
        const QJsonObject record = cli.listed()[0].toObject();
        const QJsonArray markers = record.value(u"markers").toArray();
        QCOMPARE(markers.size(), 1);
        QCOMPARE(markers[0][u"label"_s].toString(), u"決定"_s);
        QVERIFY(markers[0][u"at"_s].toDouble() < markedAt);
        const QString id = record.value(u"id").toString();
        QVERIFY(cli.run(u"markers "_s + id).out.endsWith(u"\t決定\n"_s));
        QCOMPARE(cli.run(u"play "_s + id + u" --from-marker 2"_s).code, 4);
        QVERIFY(record.value(u"duration").toDouble() >= elapsed - 1.0);
        const auto frames = static_cast<qint64>((elapsed - 1.0) * 48000);
        const StereoSamples audio =
            decodeFile(QUrl(record.value(u"files").toArray()[0].toString()).toLocalFile());
        QVERIFY(audio.frames() >= frames);
        // The tone (0.24 after the gain) and not the silence a lost recording would leave; a loaded
        // server may begin a little late.
        const CapturedSignal heard{0.0, audio.left};
        QCOMPARE_GT(heard.usualAmplitude(440, 0.2, double(frames) / 48000), 0.1);
    }

    // Stopped by a signal, a recovery under way still completes its files.
    void aSignalLetsTheRecoveryUnderWayFinish() {
        UserFolders folders;
        const Cli cli{folders.environment()};
        RecoveryItem item = leftSession(folders, 0, 120);
        item.manifest.configuration.format = AudioOutputFormat::aac; // a while to encode
        AudioRecordingWriter::writeManifest(item.manifest, item.directory);
        const auto recovering = cli.start(u"recover --all"_s);
        const QDir output(folders.outputPath());
        QVERIFY(waitUntil(
            [&] { return !output.entryList({u".kivo-*"_s}, QDir::Files | QDir::Hidden).isEmpty(); },
            20000));
        ::kill(static_cast<pid_t>(recovering->processId()), SIGTERM);
        const Run run = Cli::finish(*recovering);
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QCOMPARE(output.entryList(QDir::Files | QDir::Hidden).size(), 1);
        QCOMPARE(cli.listed().size(), 1);
        QVERIFY(!QFileInfo::exists(item.directory));
    }

    void failuresSayWhyAndExitNonZero_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* line, const char* setting, int code, const char* message) {
            QTest::newRow(line) << QString::fromUtf8(line) << QString::fromUtf8(setting) << code
                                << QString::fromUtf8(message);
        };
        row("devices", "no server", 1, "無法連線到音訊伺服器。");
        row("apps", "no server", 1, "無法連線到音訊伺服器。");
        row("list", "unreadable", 5, "無法讀取錄音紀錄。");
        row("recover --all", "unreadable", 5, "無法讀取錄音紀錄。");
        row("record --seconds --name x", "", 2, "選項 --seconds 需要一個值。");
        row("recover 1B4E28BA-2FA1-11D2-883F-0016D3CCA427", "", 4, "找不到編號為");
        row("play 1B4E28BA-2FA1-11D2-883F-0016D3CCA427", "no files", 1, "這筆錄音沒有音檔。");
        row("list --json", "no home", 5, "找不到保存錄音資料的資料夾");
    }
    void failuresSayWhyAndExitNonZero() {
        QFETCH(QString, line);
        QFETCH(QString, setting);
        QFETCH(int, code);
        QFETCH(QString, message);
        UserFolders folders;
        Cli cli{folders.environment()};
        if (setting == u"no server") {
            cli.environment.insert(u"PULSE_SERVER"_s, u"unix:/nonexistent/native"_s);
        } else if (setting == u"no home") {
            cli.environment.remove(u"HOME"_s);
            cli.environment.remove(u"XDG_DATA_HOME"_s);
        } else if (setting == u"no files") {
            KivoLibrary library(folders.output());
            library.recordings.append(
                RecordingRecord(QUuid(u"1B4E28BA-2FA1-11D2-883F-0016D3CCA427"_s), u"無檔"_s,
                                Date{1}, 1, folders.configuration(), {}));
            LibraryStore(folders.library(), folders.output()).save(library);
        } else if (setting == u"unreadable") {
            QDir().mkpath(folders.library());
            QFile document(folders.library() + u"/library.json"_s);
            QVERIFY(document.open(QIODevice::WriteOnly));
            document.write("not json");
        }
        const Run result = cli.run(line);
        QCOMPARE(result.code, code);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    }
};

KIVO_TEST_CLASS(KivoCliTest)
#include "KivoCliTest.moc"
