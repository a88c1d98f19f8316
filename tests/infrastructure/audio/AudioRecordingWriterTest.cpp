#include "AudioTestSupport.h"
#include "TestMain.h"

#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/audio/CafFile.h"
#include "infrastructure/storage/FileOperations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cmath>
#include <future>

using namespace kivo;

namespace {

// `frames` frames of a constant value on both channels, 48 kHz stereo float.
PcmBuffer constantBuffer(qint64 frames, float value) {
    return test::stereoBuffer(frames, value, value);
}

std::vector<float> readLeft(const QString& path) {
    return test::readTrackFile(path).left;
}

QStringList visibleAndHiddenFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

Result<RecordingRecord> finishAndWait(AudioRecordingWriter& writer, double at) {
    std::promise<Result<RecordingRecord>> promise;
    auto future = promise.get_future();
    writer.finish(
        at, [&promise](Result<RecordingRecord> result) { promise.set_value(std::move(result)); });
    return future.get();
}

} // namespace

class AudioRecordingWriterTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root;
    QString m_output;

    RecordingConfiguration configuration(RecordingMode mode, bool microphone, bool separate,
                                         AudioOutputFormat format = AudioOutputFormat::wav) {
        RecordingConfiguration c(QUrl::fromLocalFile(m_output + QLatin1Char('/')));
        c.name = QStringLiteral("會議/記錄");
        c.mode = mode;
        c.includesMicrophone = microphone;
        c.saveSeparateTracks = separate;
        c.format = format;
        c.systemGain = 1.0F;
        c.microphoneGain = 1.0F;
        return c;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        m_root = m_dir.filePath(QStringLiteral("Kivo/Captures"));
        m_output = m_dir.filePath(QStringLiteral("Music/Kivo"));
        QDir(m_root).removeRecursively();
        QDir(m_output).removeRecursively();
    }

    void outputVolumeNeedsOneHundredMillionBytes_data() {
        QTest::addColumn<std::optional<std::uint64_t>>("available");
        QTest::addColumn<bool>("starts");
        QTest::newRow("99 999 999 bytes") << std::optional<std::uint64_t>(99'999'999) << false;
        QTest::newRow("100 000 000 bytes") << std::optional<std::uint64_t>(100'000'000) << true;
        QTest::newRow("reported as 0") << std::optional<std::uint64_t>(0) << true;
        QTest::newRow("no value") << std::optional<std::uint64_t>() << true;
    }
    void outputVolumeNeedsOneHundredMillionBytes() {
        QFETCH(std::optional<std::uint64_t>, available);
        QFETCH(bool, starts);
        const auto capacity = [available](const QString&) { return available; };
        try {
            AudioRecordingWriter writer(configuration(RecordingMode::system, true, false), m_root,
                                        capacity);
            QVERIFY(starts);
        } catch (const KivoError& error) {
            QVERIFY(!starts);
            QCOMPARE(error.text(), QStringLiteral("保存磁碟剩餘空間不足 100 MB，請更換資料夾。"));
            QVERIFY(!QFileInfo::exists(m_root));
        }
    }

    void failedStartLeavesNothingInTheRoot() {
        auto invalid = configuration(RecordingMode::system, true, false);
        invalid.name = QStringLiteral(" \n ");
        QVERIFY_THROWS_EXCEPTION(KivoError, AudioRecordingWriter(invalid, m_root));

        // An output folder whose parent is a file cannot be created.
        QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        auto unwritable = configuration(RecordingMode::system, true, false);
        unwritable.outputDirectory =
            QUrl::fromLocalFile(blocker.fileName() + QStringLiteral("/Kivo/"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, AudioRecordingWriter(unwritable, m_root));
        QVERIFY(!QFileInfo::exists(m_root));

        // A sessions root that cannot be made: the output folder stays, nothing else is made.
        const QString blockedRoot = blocker.fileName() + QStringLiteral("/Captures");
        QVERIFY_THROWS_EXCEPTION(
            PlatformError,
            AudioRecordingWriter(configuration(RecordingMode::system, true, false), blockedRoot));
        QVERIFY(QFileInfo(m_output).isDir());
    }

    void buffersOutsideTheTimelineAreNotWritten() {
        std::vector<std::pair<float, float>> levels;
        AudioRecordingWriter writer(configuration(RecordingMode::system, false, false), m_root);
        writer.onLevels = [&levels](float system, float microphone) {
            levels.emplace_back(system, microphone);
        };
        writer.queue().sync(
            [&] { writer.append(constantBuffer(480, 0.5F), AudioSource::system, 100.0); });
        writer.activate(100.0);
        writer.appendAsync(constantBuffer(480, 0.5F), AudioSource::system, 99.99);
        writer.pause(101.0);
        writer.appendAsync(constantBuffer(480, 0.5F), AudioSource::system, 101.5);
        writer.resume(102.5);
        // Captured during the pause, delivered after the resume.
        writer.appendAsync(constantBuffer(480, 0.5F), AudioSource::system, 102.0);
        writer.appendAsync(constantBuffer(480, 0.25F), AudioSource::system, 103.0);
        writer.appendAsync(constantBuffer(480, 0.5F), AudioSource::system, qQNaN());
        const auto result = finishAndWait(writer, 103.5);
        QVERIFY2(result.ok(), qPrintable(result.errorDescription()));

        QCOMPARE(levels.size(), std::size_t(1));
        QCOMPARE(levels.front().first, 0.25F);
        QCOMPARE(levels.front().second, 0.0F);
        // Written at 103.0 − 100.0 − 1.5 s of pause = 1.5 s.
        const auto left = readLeft(writer.directory() + QStringLiteral("/system.caf"));
        QCOMPARE(left.size(), std::size_t(72000 + 480));
        QVERIFY(std::all_of(left.begin(), left.begin() + 72000, [](float s) { return s == 0.0F; }));
        QVERIFY(std::all_of(left.begin() + 72000, left.end(), [](float s) { return s == 0.25F; }));
        QCOMPARE(result.value().duration(), 2.0);
    }

    // At most every 80 ms, after the gains, which are limited to 0…1.
    void levelsAreReportedAtMostEveryEightyMilliseconds() {
        std::vector<std::tuple<double, float, float>> reported;
        double now = 0.0;
        AudioRecordingWriter writer(configuration(RecordingMode::system, true, false), m_root);
        writer.onLevels = [&](float s, float m) { reported.emplace_back(now, s, m); };
        writer.activate(50.0);
        writer.setGains(1.4F, -0.2F);
        for (const double t : {50.0, 50.05, 50.09, 50.1, 50.2}) {
            writer.queue().sync([&, t] {
                now = t;
                writer.append(constantBuffer(64, 0.9F), AudioSource::system, t);
                writer.append(constantBuffer(64, 0.9F), AudioSource::microphone, t);
            });
        }
        QCOMPARE(reported, (std::vector<std::tuple<double, float, float>>{
                               {50.0, 0.9F, 0.0F}, {50.09, 0.9F, 0.0F}, {50.2, 0.9F, 0.0F}}));
        writer.abandonEmptySession();
    }

    void firstWriteFailureStopsBothSourcesAndIsReportedOnce() {
        QStringList failures;
        AudioRecordingWriter writer(configuration(RecordingMode::system, true, false), m_root);
        writer.onFailure = [&failures](const QString& message) { failures.append(message); };
        writer.activate(0.0);
        writer.appendAsync(constantBuffer(4800, 0.5F), AudioSource::system, 0.0);
        writer.queue().sync([] {});

        {
            // A file-size limit makes the next writes fail as a full disk would.
            const test::FileSizeLimit fullDisk(4096);
            writer.appendAsync(constantBuffer(4800, 0.5F), AudioSource::system, 0.1);
            writer.queue().sync([] {});
        }

        writer.appendAsync(constantBuffer(4800, 0.5F), AudioSource::microphone, 0.2);
        writer.appendAsync(constantBuffer(4800, 0.5F), AudioSource::system, 0.3);
        const auto result = finishAndWait(writer, 0.4);

        QCOMPARE(failures.size(), 1);
        QVERIFY(
            failures.front().startsWith(QStringLiteral("錄音寫入中斷，將嘗試保存已錄製內容。\n")));
        QVERIFY2(result.ok(), qPrintable(result.errorDescription()));
        const auto system = readLeft(writer.directory() + QStringLiteral("/system.caf"));
        QCOMPARE(system.size(), std::size_t(4800));
        QCOMPARE(readLeft(writer.directory() + QStringLiteral("/microphone.caf")).size(),
                 std::size_t(0));
    }

    void finishExportsMergedThenSystemThenMicrophone() {
        auto config = configuration(RecordingMode::system, true, true);
        AudioRecordingWriter writer(config, m_root);
        writer.activate(10.0);
        writer.appendAsync(constantBuffer(48000, 0.25F), AudioSource::system, 10.0);
        writer.appendAsync(constantBuffer(24000, 0.5F), AudioSource::microphone, 10.0);
        writer.pause(11.0);
        writer.resume(11.5);
        const auto result = finishAndWait(writer, 12.0);
        QVERIFY2(result.ok(), qPrintable(result.errorDescription()));

        const RecordingRecord& record = result.value();
        QCOMPARE(record.id(), writer.manifest().id);
        QCOMPARE(record.name(), config.name);
        QCOMPARE(record.duration(), 1.5);
        QCOMPARE(record.files().size(), 3);
        const QString stem = QStringLiteral("會議_記錄_") +
                             writer.manifest().startedAt.toDateTime().toLocalTime().toString(
                                 QStringLiteral("yyyyMMdd_HHmmss")) +
                             QLatin1Char('_');
        const QString merged = record.files()[0].toLocalFile();
        QCOMPARE(record.files()[0],
                 QUrl::fromLocalFile(m_output + u'/' + QFileInfo(merged).fileName()));
        QVERIFY2(QFileInfo(merged).fileName().startsWith(stem), qPrintable(merged));
        QCOMPARE(QFileInfo(merged).fileName().size(), stem.size() + 8 + 4);
        QCOMPARE(record.files()[1].toLocalFile(),
                 merged.chopped(4) + QStringLiteral("_電腦聲音.wav"));
        QCOMPARE(record.files()[2].toLocalFile(),
                 merged.chopped(4) + QStringLiteral("_麥克風.wav"));
        QCOMPARE(visibleAndHiddenFiles(m_output).size(), 3);

        QCOMPARE(writer.manifest().exported, std::optional<RecordingRecord>(record));
        QFile stored(writer.directory() + QStringLiteral("/session.json"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(RecoveryManifest::decoded(stored.readAll()).exported,
                 std::optional<RecordingRecord>(record));

        writer.acknowledgeSaved();
        QVERIFY(!QFileInfo::exists(writer.directory()));
    }

    void finishWithoutAudioKeepsTheSession() {
        AudioRecordingWriter writer(configuration(RecordingMode::system, true, false), m_root);
        writer.activate(0.0);
        const auto result = finishAndWait(writer, 5.0);
        QVERIFY(!result.ok());
        const QString folder = QDir::toNativeSeparators(writer.directory());
        QCOMPARE(result.errorDescription(),
                 QStringLiteral("無法完成音檔保存，原始錄音保留在 ") + folder +
                     QStringLiteral("。\n沒有收到音訊。請確認來源與權限；暫存資料保留在 ") +
                     folder + QStringLiteral("。"));
        QVERIFY(QFileInfo::exists(writer.directory() + QStringLiteral("/session.json")));
        // Nothing was exported, so nothing is removed.
        writer.acknowledgeSaved();
        QVERIFY(QFileInfo::exists(writer.directory()));
    }

    void manifestThatCannotBeRewrittenFailsTheFinish() {
        AudioRecordingWriter writer(configuration(RecordingMode::system, false, false), m_root);
        writer.activate(0.0);
        writer.appendAsync(constantBuffer(4800, 0.5F), AudioSource::system, 0.0);
        writer.queue().sync([] {});
        // A non-empty folder in place of session.json: renaming a file over it fails.
        const QString manifestPath = writer.directory() + QStringLiteral("/session.json");
        QVERIFY(QFile::remove(manifestPath));
        QVERIFY(QDir().mkpath(manifestPath + QStringLiteral("/inside")));

        const auto result = finishAndWait(writer, 0.1);
        QVERIFY(!result.ok());
        QVERIFY(result.errorDescription().startsWith(
            QStringLiteral("無法完成音檔保存，原始錄音保留在 ")));
        QVERIFY(!writer.manifest().exported);
        QVERIFY(QFileInfo::exists(writer.directory() + QStringLiteral("/system.caf")));
        const QStringList outputs = visibleAndHiddenFiles(m_output);
        QCOMPARE(outputs.size(), 1);
        QVERIFY(!outputs.front().startsWith(QStringLiteral(".kivo-")));
    }

    void failedExportLeavesNoTemporaryFile() {
        AudioRecordingWriter writer(configuration(RecordingMode::system, true, true), m_root);
        writer.activate(0.0);
        writer.appendAsync(constantBuffer(4800, 0.5F), AudioSource::system, 0.0);
        writer.queue().sync([] {});
        // The microphone track disappears: the merged file and the system file are
        // exported from the one remaining track, then the output folder is taken
        // away before the next run.
        QVERIFY(QFile::remove(writer.directory() + QStringLiteral("/microphone.caf")));
        QVERIFY(QDir(m_output).removeRecursively());
        QFile blocker(m_output);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        const auto result = finishAndWait(writer, 0.1);
        QVERIFY(!result.ok());
        QVERIFY(QFileInfo::exists(writer.directory() + QStringLiteral("/system.caf")));
        QVERIFY(QFileInfo(m_output).isFile());
        QVERIFY(QFile::remove(m_output));

        // Recovery exports the same session later without a frame count.
        const RecoveryManifest manifest = writer.manifest();
        const RecordingRecord record =
            AudioRecordingWriter::exportSession(manifest, writer.directory());
        QCOMPARE(record.files().size(), 1); // one source left: no separate files
        QCOMPARE(record.duration(), 0.1);
        QCOMPARE(visibleAndHiddenFiles(m_output).size(), 1);
    }

    void exportThatRunsOutOfSpaceLeavesNoTemporaryFile() {
        AudioRecordingWriter writer(configuration(RecordingMode::system, false, false), m_root);
        writer.activate(0.0);
        writer.appendAsync(constantBuffer(48000, 0.5F), AudioSource::system, 0.0);
        writer.queue().sync([] {});

        // The track holds 384 000 bytes of audio; a file-size limit below that stops the WAV
        // export part way, as a full disk would.
        const auto result = [&] {
            const test::FileSizeLimit fullDisk(100'000);
            return finishAndWait(writer, 1.0);
        }();

        QVERIFY(!result.ok());
        QVERIFY(visibleAndHiddenFiles(m_output).isEmpty());
        QCOMPARE(readLeft(writer.directory() + QStringLiteral("/system.caf")).size(),
                 std::size_t(48000));
        QVERIFY(!writer.manifest().exported);
    }

    // Abandoned, an empty session goes and one with audio stays; an empty one cannot export.
    void emptySessionsAreAbandonedAndCannotExport() {
        AudioRecordingWriter withAudio(configuration(RecordingMode::microphone, false, false),
                                       m_root);
        withAudio.activate(0.0);
        withAudio.appendAsync(constantBuffer(480, 0.5F), AudioSource::microphone, 0.0);
        withAudio.abandonEmptySession();
        QVERIFY(QFileInfo::exists(withAudio.directory() + QStringLiteral("/microphone.caf")));
        AudioRecordingWriter writer(configuration(RecordingMode::system, true, false), m_root);
        writer.abandonEmptySession();
        QVERIFY(!QFileInfo::exists(writer.directory()));

        const QString folder = m_dir.filePath(QStringLiteral("empty-session"));
        QVERIFY(QDir().mkpath(folder));
        try {
            AudioRecordingWriter::exportSession(writer.manifest(), folder);
            QFAIL("exported an empty session");
        } catch (const KivoError& error) {
            QCOMPARE(error.text(), QStringLiteral("暫存錄音沒有音訊內容。"));
        }
        try {
            AudioRecordingWriter::exportSession(writer.manifest(), folder, 480);
            QFAIL("exported a session without tracks");
        } catch (const KivoError& error) {
            QCOMPARE(error.text(), QStringLiteral("沒有收到可保存的音訊。請確認來源與錄音權限。"));
        }
        QVERIFY(visibleAndHiddenFiles(m_output).isEmpty());
    }

    void moveNeverReplacesAnExistingFile() {
        const QString from = m_dir.filePath(QStringLiteral(".kivo-move.wav"));
        const QString to = m_dir.filePath(QStringLiteral("taken.wav"));
        for (const auto& [path, text] : {std::pair{from, "new"}, std::pair{to, "old"}}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        }
        QVERIFY_THROWS_EXCEPTION(PlatformError, FileOperations::moveWithoutReplacing(from, to));
        QFile kept(to);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("old"));
        QVERIFY(QFileInfo::exists(from));
    }
};

KIVO_TEST_CLASS(AudioRecordingWriterTest)
#include "AudioRecordingWriterTest.moc"
