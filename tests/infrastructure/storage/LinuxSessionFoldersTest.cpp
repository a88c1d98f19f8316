#include "TestMain.h"
#include "audio/AudioTestSupport.h"

#include "domain/KivoError.h"
#include "infrastructure/storage/LinuxSessionFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>

using namespace kivo;

class LinuxSessionFoldersTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    // A session folder left behind with a system track of `frames` frames (none when 0),
    // exporting to WAV into `name`/out.
    RecoveryItem leftBehindSession(const QString& name, qint64 frames) {
        RecordingConfiguration configuration(
            QUrl::fromLocalFile(m_folder.filePath(name + QStringLiteral("/out/"))));
        configuration.name = name;
        configuration.format = AudioOutputFormat::wav;
        RecoveryItem item{{}, RecoveryManifest(QUuid::createUuid(), Date::now(), configuration)};
        item.directory =
            m_folder.filePath(name + QStringLiteral("/Captures/") +
                              item.manifest.id.toString(QUuid::WithoutBraces).toUpper());
        if (!QDir().mkpath(item.directory)) {
            return item;
        }
        if (frames > 0) {
            test::writeTrackFile(item.directory + QStringLiteral("/system.caf"),
                                 test::noise(frames));
        }
        return item;
    }

    QStringList exportedFiles(const QString& name) {
        return QDir(m_folder.filePath(name + QStringLiteral("/out"))).entryList(QDir::Files);
    }

private slots:
    void exportRunsBesideTheEventLoopAndReportsOnTheMainThread_data() {
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<QString>("error");
        QTest::newRow("a 20-second track") << qint64{20 * 48000} << QString();
        QTest::newRow("no track") << qint64{0} << QStringLiteral("暫存錄音沒有音訊內容。");
    }
    void exportRunsBesideTheEventLoopAndReportsOnTheMainThread() {
        QFETCH(qint64, frames);
        QFETCH(QString, error);
        const RecoveryItem item =
            leftBehindSession(QString::fromLatin1(QTest::currentDataTag()), frames);
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(0);
        LinuxSessionFolders folders;

        std::vector<double> fractions;
        std::optional<Result<RecordingRecord>> result;
        int ticksBeforeCompletion = -1;
        bool onMainThread = true;
        const auto onMain = [] { return QThread::currentThread() == qApp->thread(); };
        folders.exportSession(
            item,
            [&](double fraction) {
                onMainThread = onMainThread && onMain();
                fractions.push_back(fraction);
            },
            [&](Result<RecordingRecord> outcome) {
                onMainThread = onMainThread && onMain() && !result;
                ticksBeforeCompletion = ticks;
                result = std::move(outcome);
            });
        QVERIFY(!result);
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 60000);
        QVERIFY(onMainThread);
        QVERIFY(ticksBeforeCompletion > 0);
        if (!error.isEmpty()) {
            QCOMPARE(result->errorDescription(), error);
            QVERIFY(fractions.empty());
            return;
        }
        QVERIFY2(result->ok(), qPrintable(result->errorDescription()));
        QCOMPARE(result->value().id(), item.manifest.id);
        QCOMPARE(result->value().files().size(), 1);
        QVERIFY(QFileInfo(result->value().files().first().toLocalFile()).size() > 0);
        QVERIFY(!fractions.empty());
        QVERIFY(fractions.size() <= 101); // 235 chunks, reported in steps of 1%
        QVERIFY(std::is_sorted(fractions.begin(), fractions.end()));
        QCOMPARE(fractions.back(), 1.0);
    }

    void nothingIsCalledBackOnceTheFoldersAreGone() {
        const RecoveryItem item = leftBehindSession(QStringLiteral("gone"), 3 * 48000);
        bool called = false;
        auto folders = std::make_unique<LinuxSessionFolders>();
        folders->exportSession(
            item, [&](double) { called = true; }, [&](Result<RecordingRecord>) { called = true; });
        folders.reset();
        QTRY_VERIFY_WITH_TIMEOUT(exportedFiles(QStringLiteral("gone")).size() == 1, 60000);
        QTest::qWait(200); // the export thread posts its last call just after the file's rename
        QVERIFY(!called);
    }
};

KIVO_TEST_CLASS(LinuxSessionFoldersTest)
#include "LinuxSessionFoldersTest.moc"
