#include "TestMain.h"
#include "audio/AudioTestSupport.h"

#include "infrastructure/storage/LinuxSessionFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <optional>

using namespace kivo;
using namespace Qt::StringLiterals;

class LinuxSessionFoldersTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    // A session folder left behind with two tracks of `frames` frames, exporting to WAV into
    // `name`/out, the tracks merged and as separate files.
    RecoveryItem leftBehindSession(const QString& name, qint64 frames) {
        RecordingConfiguration configuration(
            QUrl::fromLocalFile(m_folder.filePath(name + u"/out/"_s)));
        configuration.format = AudioOutputFormat::wav;
        configuration.saveSeparateTracks = true;
        const RecoveryManifest manifest(QUuid::createUuid(), Date::now(), configuration);
        const RecoveryItem item{m_folder.filePath(name + u"/session"_s), manifest};
        for (const char* track : {"/system.caf", "/microphone.caf"}) {
            if (QDir().mkpath(item.directory)) {
                test::writeTrackFile(item.directory + QLatin1String(track), test::noise(frames));
            }
        }
        return item;
    }

private slots:
    // Progress over all three files grows to 1, each step on the main thread.
    void exportRunsBesideTheEventLoopAndReportsOnTheMainThread() {
        const RecoveryItem item = leftBehindSession(u"export"_s, 8 * 48000);
        LinuxSessionFolders folders;
        std::vector<double> fractions;
        std::optional<Result<RecordingRecord>> result;
        bool onMainThread = true;
        const auto onMain = [] { return QThread::currentThread() == qApp->thread(); };
        folders.exportSession(
            item, [&](double fraction) { fractions.push_back(onMain() ? fraction : -1.0); },
            [&](Result<RecordingRecord> outcome) {
                onMainThread = onMainThread && onMain() && !result;
                result = std::move(outcome);
            });
        QVERIFY(!result); // the export runs beside the event loop
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 60000);
        QVERIFY(onMainThread);
        QVERIFY(result->ok());
        QCOMPARE(result->value().id(), item.manifest.id);
        QCOMPARE(result->value().files().size(), 3);
        QVERIFY(QFileInfo(result->value().files().value(2).toLocalFile()).size() > 0);
        QVERIFY(fractions.size() > 10 && fractions.size() <= 101); // in steps of at least 1%
        QVERIFY(fractions.front() > 0.0 && std::is_sorted(fractions.begin(), fractions.end()));
        QCOMPARE(fractions.back(), 1.0);
    }

    void nothingIsCalledBackOnceTheFoldersAreGone() {
        const RecoveryItem item = leftBehindSession(u"gone"_s, 3 * 48000);
        bool called = false;
        auto folders = std::make_unique<LinuxSessionFolders>();
        folders->exportSession(
            item, [&](double) { called = true; }, [&](Result<RecordingRecord>) { called = true; });
        folders.reset();
        const QDir output(m_folder.filePath(u"gone/out"_s));
        QTRY_VERIFY_WITH_TIMEOUT(output.entryList(QDir::Files).size() == 3, 60000);
        QTest::qWait(200); // the export thread posts its last call just after the file's rename
        QVERIFY(!called);
    }
};

KIVO_TEST_CLASS(LinuxSessionFoldersTest)
#include "LinuxSessionFoldersTest.moc"
