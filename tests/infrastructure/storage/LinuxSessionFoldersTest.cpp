#include "TestMain.h"
#include "audio/AudioTestSupport.h"

#include "infrastructure/storage/LinuxSessionFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <optional>

using namespace kivo;

class LinuxSessionFoldersTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    // A session folder left behind with a system track of `frames` frames, exporting to WAV
    // into `name`/out.
    RecoveryItem leftBehindSession(const QString& name, qint64 frames) {
        RecordingConfiguration configuration(
            QUrl::fromLocalFile(m_folder.filePath(name + QStringLiteral("/out/"))));
        configuration.format = AudioOutputFormat::wav;
        const RecoveryManifest manifest(QUuid::createUuid(), Date::now(), configuration);
        const RecoveryItem item{m_folder.filePath(name + QStringLiteral("/session")), manifest};
        if (QDir().mkpath(item.directory)) {
            test::writeTrackFile(item.directory + QStringLiteral("/system.caf"),
                                 test::noise(frames));
        }
        return item;
    }

private slots:
    void exportRunsBesideTheEventLoopAndReportsOnTheMainThread() {
        const RecoveryItem item = leftBehindSession(QStringLiteral("export"), 20 * 48000);
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
            item, [&](double fraction) { fractions.push_back(onMain() ? fraction : -1.0); },
            [&](Result<RecordingRecord> outcome) {
                onMainThread = onMainThread && onMain() && !result;
                ticksBeforeCompletion = ticks;
                result = std::move(outcome);
            });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 60000);
        QVERIFY(onMainThread);
        QVERIFY(ticksBeforeCompletion > 0);
        QVERIFY2(result->ok(), qPrintable(result->errorDescription()));
        QCOMPARE(result->value().id(), item.manifest.id);
        QVERIFY(QFileInfo(result->value().files().value(0).toLocalFile()).size() > 0);
        // 235 chunks reported in steps of 1%, each on the main thread.
        QVERIFY(!fractions.empty() && fractions.size() <= 101);
        QVERIFY(*std::min_element(fractions.begin(), fractions.end()) > 0.0);
        QCOMPARE(fractions.back(), 1.0);
    }

    void nothingIsCalledBackOnceTheFoldersAreGone() {
        const RecoveryItem item = leftBehindSession(QStringLiteral("gone"), 3 * 48000);
        bool called = false;
        auto folders = std::make_unique<LinuxSessionFolders>();
        folders->exportSession(
            item, [&](double) { called = true; }, [&](Result<RecordingRecord>) { called = true; });
        folders.reset();
        const QDir output(m_folder.filePath(QStringLiteral("gone/out")));
        QTRY_VERIFY_WITH_TIMEOUT(output.entryList(QDir::Files).size() == 1, 60000);
        QTest::qWait(200); // the export thread posts its last call just after the file's rename
        QVERIFY(!called);
    }
};

KIVO_TEST_CLASS(LinuxSessionFoldersTest)
#include "LinuxSessionFoldersTest.moc"
