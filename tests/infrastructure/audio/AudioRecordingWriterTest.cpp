#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/audio/SessionExport.h"
#include "infrastructure/files/FileOperations.h"

#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <future>

#include <unistd.h>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

const QString kKept = u"無法完成音檔保存，原始錄音保留在 "_s;

using Bytes = std::optional<std::uint64_t>;
const AudioRecordingWriter::AvailableCapacity noValue = [](const QString&) { return Bytes(); };

} // namespace

class AudioRecordingWriterTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root;
    QString m_output;

    RecordingConfiguration configuration(RecordingMode mode, bool microphone, bool separate) {
        RecordingConfiguration c(QUrl::fromLocalFile(m_output + u'/'));
        c.name = u"會議/記錄"_s;
        c.mode = mode;
        c.includesMicrophone = microphone;
        c.saveSeparateTracks = separate;
        c.format = AudioOutputFormat::wav;
        c.systemGain = c.microphoneGain = 1.0F;
        return c;
    }
    // A system recording (with the microphone when `separate`) started at 0 s, holding
    // `frames` frames of system audio.
    std::unique_ptr<AudioRecordingWriter> recording(qint64 frames, bool separate = false) {
        auto writer = std::make_unique<AudioRecordingWriter>(
            configuration(RecordingMode::system, separate, separate), m_root);
        writer->activate(0.0);
        writer->appendAsync(test::stereoBuffer(frames, 0.5F, 0.5F), AudioSource::system, 0.0);
        writer->queue().sync([] {});
        return writer;
    }
    QString track(const AudioRecordingWriter& writer, const char* name) const {
        return writer.directory() + u'/' + QString::fromLatin1(name);
    }

private slots:
    void init() {
        m_root = m_dir.filePath(u"Kivo/Captures"_s);
        m_output = m_dir.filePath(u"Music/Kivo"_s);
        QDir(m_root).removeRecursively();
        QDir(m_output).removeRecursively();
    }

    // Both the output volume and the sessions volume need 100 000 000 bytes; 0 is full, no
    // value passes. No session folder is made when either is short.
    void volumesNeedOneHundredMillionBytes_data() {
        QTest::addColumn<Bytes>("output");
        QTest::addColumn<Bytes>("sessions");
        QTest::addColumn<QString>("message");
        const QString output = u"保存磁碟剩餘空間不足 100 MB，請更換資料夾。"_s;
        const QString sessions = u"暫存磁碟剩餘空間不足 100 MB，請先清出空間。"_s;
        QTest::newRow("output 99 999 999 bytes") << Bytes(99'999'999) << Bytes() << output;
        QTest::newRow("output reports 0") << Bytes(0) << Bytes(100'000'000) << output;
        QTest::newRow("sessions 99 999 999 bytes") << Bytes() << Bytes(99'999'999) << sessions;
        QTest::newRow("sessions report 0") << Bytes(100'000'000) << Bytes(0) << sessions;
        QTest::newRow("100 000 000 bytes each")
            << Bytes(100'000'000) << Bytes(100'000'000) << QString();
        QTest::newRow("no value") << Bytes() << Bytes() << QString();
    }
    void volumesNeedOneHundredMillionBytes() {
        QFETCH(Bytes, output);
        QFETCH(Bytes, sessions);
        QFETCH(QString, message);
        const auto start = [&] {
            AudioRecordingWriter(
                configuration(RecordingMode::system, true, false), m_root,
                [&](const QString& path) { return path == m_root ? sessions : output; });
        };
        QCOMPARE(test::thrownText(start), message.isEmpty() ? u"(nothing thrown)"_s : message);
        QCOMPARE(QDir(m_root).isEmpty(), !message.isEmpty());
    }

    // Found at the start with the system's reason. Permissions do not stop root, but sysfs
    // takes no new files from anyone.
    void outputFolderThatTakesNoFilesRefusesTheStart() {
        auto c = configuration(RecordingMode::system, true, false);
        if (::geteuid() == 0) {
            c.outputDirectory = QUrl::fromLocalFile(u"/sys/"_s);
        } else {
            QVERIFY(QDir().mkpath(m_output));
            QVERIFY(QFile::setPermissions(m_output, QFile::ReadOwner | QFile::ExeOwner));
        }
        const QString text =
            test::thrownText<PlatformError>([&] { AudioRecordingWriter(c, m_root, noValue); });
        QFile::setPermissions(m_output, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(text.endsWith(u"：沒有權限"_s), qPrintable(text));
        QVERIFY(!QFileInfo::exists(m_root));
    }

    // An invalid name, an output folder or a sessions root that cannot be made (a file lies in
    // their path): nothing is left in the root.
    void failedStartLeavesNothingInTheRoot() {
        auto invalid = configuration(RecordingMode::system, true, false);
        invalid.name = u" \n "_s;
        QVERIFY_THROWS_EXCEPTION(KivoError, AudioRecordingWriter(invalid, m_root));
        QFile blocker(m_dir.filePath(u"blocker"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        auto unwritable = configuration(RecordingMode::system, true, false);
        unwritable.outputDirectory = QUrl::fromLocalFile(blocker.fileName() + u"/Kivo/"_s);
        QVERIFY_THROWS_EXCEPTION(PlatformError, AudioRecordingWriter(unwritable, m_root));
        QVERIFY(!QFileInfo::exists(m_root));
        QVERIFY_THROWS_EXCEPTION(
            PlatformError, AudioRecordingWriter(configuration(RecordingMode::system, true, false),
                                                blocker.fileName() + u"/Captures"_s));
        QVERIFY(QFileInfo(m_output).isDir());
    }

    // Buffers before the start, stamped inside a pause or unstamped are left out: the last
    // buffer lands at 103.0 − 100.0 − 1.5 s of pause; one captured before the pause and
    // delivered during it keeps what lies before the pause. Levels come at most every 80 ms,
    // after the gains, which are limited to 0…1, each the peak since the last (0.75 at 103.05);
    // gains set for a moment apply to what was captured from then on.
    void buffersOutsideTheTimelineAreNotWritten() {
        std::vector<std::tuple<double, float, float>> levels;
        double now = 0.0;
        AudioRecordingWriter writer(configuration(RecordingMode::system, true, false), m_root);
        writer.onLevels = [&](float system, float mic) { levels.emplace_back(now, system, mic); };
        writer.queue().sync([&] {
            writer.append(test::stereoBuffer(480, 0.5F, 0.5F), AudioSource::system, 100.0);
        });
        writer.activate(100.0);
        writer.setGains(1.4F, -0.2F);
        writer.setGains(0.5F, 0.0F, 103.09); // for what is captured from 103.09 on
        // Captured across the start, the resume and the gain's moment: each part where it belongs.
        for (const auto& [at, value] : {std::pair{99.995, 0.5F},
                                        {101.5, 0.5F},
                                        {102.495, 0.5F},
                                        {103.0, 0.25F},
                                        {103.085, 0.75F},
                                        {103.09, 0.5F},
                                        {qQNaN(), 0.5F}}) {
            if (at == 101.5) {
                writer.pause(101.0);
                // Captured 5 ms before the pause, delivered during it: those 5 ms count.
                writer.queue().sync([&] {
                    now = at;
                    writer.append(test::stereoBuffer(480, 0.3F, 0.3F), AudioSource::system,
                                  100.995);
                });
            } else if (at == 102.495) {
                writer.resume(102.5);
            }
            writer.queue().sync([&, at = at, value = value] {
                now = at;
                writer.append(test::stereoBuffer(480, value, value), AudioSource::system, at);
                writer.append(test::stereoBuffer(480, value, value), AudioSource::microphone, at);
            });
        }
        const auto result = test::finishAndWait(writer, 103.5);
        QVERIFY(result.ok());
        QCOMPARE(levels, (std::vector<std::tuple<double, float, float>>{{99.995, 0.5F, 0.0F},
                                                                        {101.5, 0.3F, 0.0F},
                                                                        {102.495, 0.5F, 0.0F},
                                                                        {103.0, 0.25F, 0.0F},
                                                                        {103.085, 0.75F, 0.0F}}));
        const auto left = test::readTrackFile(track(writer, "system.caf")).left;
        QCOMPARE(left.size(), std::size_t(72000 + 4320 + 480));
        const auto zeroFrom = [&](std::size_t from, std::size_t to) {
            return std::all_of(left.begin() + from, left.begin() + to,
                               [](float s) { return s == 0; });
        };
        QCOMPARE(left[0], 0.5F); // the 5 ms after the start
        QCOMPARE(left[239], 0.5F);
        QVERIFY(zeroFrom(240, 47760));
        QCOMPARE(left[47760], 0.3F);
        QCOMPARE(left[47999], 0.3F);
        QCOMPARE(left[48000], 0.5F); // the 5 ms after the resume
        QCOMPARE(left[48239], 0.5F);
        QVERIFY(zeroFrom(48240, 72000));
        QCOMPARE(left[72000], 0.25F);
        QCOMPARE(left[76080], 0.75F);
        QCOMPARE(left[76319], 0.75F);
        QCOMPARE(left[76320], 0.375F); // 0.75 at the gain set for 103.09, within one buffer
        QCOMPARE(left[76560], 0.25F);  // 0.5 likewise
        QCOMPARE(result.value().duration(), 2.0);
    }

    // A full disk while recording: reported once, both sources stop, what was written stays.
    void firstWriteFailureStopsBothSourcesAndIsReportedOnce() {
        const auto writer = recording(4800, true);
        QStringList failures;
        writer->onFailure = [&failures](const QString& message) { failures.append(message); };
        {
            const test::FileSizeLimit fullDisk(4096);
            writer->appendAsync(test::stereoBuffer(4800, 0.5F, 0.5F), AudioSource::system, 0.1);
            writer->queue().sync([] {});
        }
        writer->appendAsync(test::stereoBuffer(4800, 0.5F, 0.5F), AudioSource::microphone, 0.2);
        writer->appendAsync(test::stereoBuffer(4800, 0.5F, 0.5F), AudioSource::system, 0.3);
        const auto result = test::finishAndWait(*writer, 0.4);
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures[0].startsWith(u"錄音寫入中斷，將嘗試保存已錄製內容。\n"_s) &&
                     failures[0].endsWith(u"：檔案已超過系統允許的大小"_s),
                 qPrintable(failures[0]));
        QVERIFY(result.ok());
        QCOMPARE(test::readTrackFile(track(*writer, "system.caf")).frames(), 4800);
        QCOMPARE(test::readTrackFile(track(*writer, "microphone.caf")).frames(), 0);
    }

    // Named after the recording and its start, merged then system then microphone; the manifest
    // records the export, and acknowledging removes the session.
    void finishExportsMergedThenSystemThenMicrophone() {
        AudioRecordingWriter writer(configuration(RecordingMode::system, true, true), m_root);
        writer.activate(10.0);
        writer.appendAsync(test::stereoBuffer(48000, 0.25F, 0.25F), AudioSource::system, 10.0);
        writer.appendAsync(test::stereoBuffer(24000, 0.5F, 0.5F), AudioSource::microphone, 10.0);
        writer.pause(11.0);
        writer.resume(11.5);
        const auto result = test::finishAndWait(writer, 12.0);
        QVERIFY2(result.ok(), qPrintable(result.errorDescription()));
        const RecordingRecord& record = result.value();
        QCOMPARE(record.id(), writer.manifest().id);
        QCOMPARE(record.name(), u"會議/記錄"_s);
        QCOMPARE(record.duration(), 1.5);
        const QString stem =
            m_output + u"/會議_記錄_"_s +
            writer.manifest().startedAt.toDateTime().toLocalTime().toString(u"yyyyMMdd_HHmmss_"_s);
        const QString merged = record.files().value(0).toLocalFile();
        QVERIFY(merged.startsWith(stem) && merged.size() == stem.size() + 8 + 4);
        QCOMPARE(record.files(),
                 (QList<QUrl>{QUrl::fromLocalFile(merged),
                              QUrl::fromLocalFile(merged.chopped(4) + u"_電腦聲音.wav"_s),
                              QUrl::fromLocalFile(merged.chopped(4) + u"_麥克風.wav"_s)}));
        QCOMPARE(filesIn(m_output).size(), 3);
        QFile stored(track(writer, "session.json"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(RecoveryManifest::decoded(stored.readAll()).exported, std::optional(record));
        writer.acknowledgeSaved();
        QVERIFY(!QFileInfo::exists(writer.directory()));
    }

    void finishWithoutAudioKeepsTheSession() {
        const auto writer = recording(0);
        const auto result = test::finishAndWait(*writer, 5.0);
        const QString folder = writer->directory();
        QCOMPARE(result.errorDescription(),
                 kKept + folder + u"。\n沒有收到音訊。請確認來源與權限；暫存資料保留在 "_s +
                     folder + u"。"_s);
        writer->acknowledgeSaved(); // nothing was exported, so nothing is removed
        QVERIFY(QFileInfo::exists(track(*writer, "session.json")));
    }

    // A non-empty folder in place of session.json: renaming the new manifest over it fails. The
    // files are saved, so the record comes back; the session goes when acknowledged.
    void manifestThatCannotBeRewrittenStillReturnsTheRecord() {
        const auto writer = recording(4800);
        QVERIFY(QFile::remove(track(*writer, "session.json")));
        QVERIFY(QDir().mkpath(track(*writer, "session.json/inside")));
        const auto result = test::finishAndWait(*writer, 0.1);
        QVERIFY2(result.ok(), qPrintable(result.errorDescription()));
        QCOMPARE(filesIn(m_output), QStringList{result.value().files()[0].fileName()});
        QVERIFY(QFileInfo::exists(track(*writer, "system.caf")));
        writer->acknowledgeSaved();
        QVERIFY(!QFileInfo::exists(writer->directory()));
    }

    // Once under its final name a file stays in the record though its folder cannot be forced
    // to disk: dropped, recovery would write a second copy.
    void savedFilesStayInTheRecordWhenTheFolderCannotBeSynced() {
        const auto writer = recording(4800, true);
        writer->abandonEmptySession(); // closes the tracks, keeps the session with audio
        const auto failingSync = [](const QString& path) {
            throw PlatformError::fromErrno(path, EIO);
        };
        std::optional<RecordingRecord> record;
        QVERIFY_THROWS_NO_EXCEPTION(record = SessionExport::exportSession(writer->manifest(),
                                                                          writer->directory(), 4800,
                                                                          {}, failingSync));
        QCOMPARE(record->files().size(), 3);
        QCOMPARE(filesIn(m_output).size(), 3);
    }

    // The system file's name, the longest, fits in 255 bytes of UTF-8: the name is cut between
    // whole characters (a letter with its accent, an emoji's surrogate pair).
    void longNamesAreCutToFitTheFileNameLimit_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kept");
        const QString cjk(80, u'錄');
        QTest::newRow("76 CJK") << cjk.left(76) << cjk.left(71);
        QTest::newRow("80 CJK") << cjk << cjk.left(71);
        QTest::newRow("ASCII then CJK") << u"Meeting "_s + cjk << u"Meeting "_s + cjk.left(68);
        QTest::newRow("accented letters")
            << u"ab"_s + u"e\u0301"_s.repeated(78) << u"ab"_s + u"e\u0301"_s.repeated(70);
        QTest::newRow("emoji") << u"😀"_s.repeated(80) << u"😀"_s.repeated(53);
    }
    void longNamesAreCutToFitTheFileNameLimit() {
        QFETCH(QString, name);
        QFETCH(QString, kept);
        auto c = configuration(RecordingMode::system, true, true);
        c.name = name;
        AudioRecordingWriter writer(c, m_root);
        writer.activate(0.0);
        writer.appendAsync(test::stereoBuffer(480, 0.5F, 0.5F), AudioSource::system, 0.0);
        const auto result = test::finishAndWait(writer, 0.01);
        QVERIFY2(result.ok(), qPrintable(result.errorDescription()));
        const QString system = result.value().files().value(1).fileName();
        QVERIFY2(system.startsWith(kept + u'_') && system.endsWith(u"_電腦聲音.wav"_s),
                 qPrintable(system));
        QCOMPARE_LE(system.toUtf8().size(), 255);
        QCOMPARE(filesIn(m_output).size(), 3);
    }

    // The microphone track is missing: the merged and system files come from the one left,
    // but the output folder has become a file. Recovery exports the session later without a
    // frame count, as one file.
    void failedExportLeavesNoTemporaryFile() {
        const auto writer = recording(4800, true);
        QVERIFY(QFile::remove(track(*writer, "microphone.caf")));
        QVERIFY(QDir(m_output).removeRecursively());
        QVERIFY(QFile(m_output).open(QIODevice::WriteOnly));
        QVERIFY(!test::finishAndWait(*writer, 0.1).ok());
        QVERIFY(QFileInfo::exists(track(*writer, "system.caf")));
        QVERIFY(QFileInfo(m_output).isFile());
        QVERIFY(QFile::remove(m_output));
        const auto record = SessionExport::exportSession(writer->manifest(), writer->directory());
        QCOMPARE(record.files().size(), 1);
        QCOMPARE(record.duration(), 0.1);
        QCOMPARE(filesIn(m_output).size(), 1);
    }

    // A file-size limit below the track's 384 000 bytes stops the WAV export part way, as a
    // full disk would.
    void exportThatRunsOutOfSpaceLeavesNoTemporaryFile() {
        const auto writer = recording(48000);
        const auto result = [&] {
            const test::FileSizeLimit fullDisk(100'000);
            return test::finishAndWait(*writer, 1.0);
        }();
        QVERIFY(!result.ok());
        QVERIFY(filesIn(m_output).isEmpty());
        QCOMPARE(test::readTrackFile(track(*writer, "system.caf")).frames(), 48000);
        QVERIFY(!writer->manifest().exported);
    }

    // Abandoned, an empty session goes and one with audio stays; an empty one cannot export.
    void emptySessionsAreAbandonedAndCannotExport() {
        const auto withAudio = recording(480);
        withAudio->abandonEmptySession();
        QVERIFY(QFileInfo::exists(track(*withAudio, "system.caf")));
        AudioRecordingWriter writer(configuration(RecordingMode::system, true, false), m_root);
        writer.abandonEmptySession();
        QVERIFY(!QFileInfo::exists(writer.directory()));
        const QString folder = m_dir.filePath(u"empty-session"_s);
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(test::thrownText([&] { SessionExport::exportSession(writer.manifest(), folder); }),
                 u"暫存錄音沒有音訊內容。"_s);
        QCOMPARE(
            test::thrownText([&] { SessionExport::exportSession(writer.manifest(), folder, 480); }),
            u"沒有收到可保存的音訊。請確認來源與錄音權限。"_s);
        QVERIFY(filesIn(m_output).isEmpty());
    }

    void moveNeverReplacesAnExistingFile() {
        const QString from = m_dir.filePath(u".kivo-move.wav"_s);
        const QString to = m_dir.filePath(u"taken.wav"_s);
        for (const auto& [path, text] : {std::pair{from, "new"}, std::pair{to, "old"}}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == 3);
        }
        QVERIFY_THROWS_EXCEPTION(PlatformError, FileOperations::moveWithoutReplacing(from, to));
        QFile kept(to);
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == "old");
        QVERIFY(QFileInfo::exists(from));
    }

    // The last owner of a writer's queue can be let go on the queue's own worker (a finished
    // task held it): the tasks still queued run and nothing waits for itself.
    void theLastOwnerOfAQueueMayGoOnItsWorker() {
        auto owner = std::make_shared<SerialQueue>(u"test.release"_s);
        QSemaphore holding;
        std::atomic<bool> laterRan = false;
        owner->async([kept = owner, &holding] { holding.acquire(); });
        owner->async([&laterRan] { laterRan = true; });
        owner.reset();
        holding.release();
        QTRY_VERIFY(laterRan.load());
    }
};

KIVO_TEST_CLASS(AudioRecordingWriterTest)
#include "AudioRecordingWriterTest.moc"
