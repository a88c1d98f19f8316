#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/audio/AudioFiles.h"
#include "infrastructure/audio/AudioRecordingWriter.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <future>

using namespace kivo;

class ExportProgressTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    // Exports into `folder`/out.
    static RecordingConfiguration configuration(const QString& folder, bool separateTracks) {
        RecordingConfiguration result(QUrl::fromLocalFile(folder + QStringLiteral("/out/")));
        result.format = AudioOutputFormat::wav;
        result.saveSeparateTracks = separateTracks;
        return result;
    }

private slots:
    void exportProgressGrowsToOneOverEveryFileWritten_data() {
        QTest::addColumn<QStringList>("tracks");
        QTest::addColumn<bool>("separateTracks");
        QTest::addColumn<int>("files");
        const QString system = QStringLiteral("system.caf");
        const QString microphone = QStringLiteral("microphone.caf");
        QTest::newRow("one track") << QStringList{microphone} << true << 1;
        QTest::newRow("two tracks merged") << QStringList{system, microphone} << false << 1;
        QTest::newRow("two tracks and separate files")
            << QStringList{system, microphone} << true << 3;
    }
    void exportProgressGrowsToOneOverEveryFileWritten() {
        QFETCH(QStringList, tracks);
        QFETCH(bool, separateTracks);
        QFETCH(int, files);
        const QString session = m_folder.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(session));
        constexpr qint64 kChunks = 4;
        for (const QString& track : tracks) {
            test::writeTrackFile(session + u'/' + track,
                                 test::noise(kChunks * AudioFiles::kExportChunkFrames - 5));
        }
        const RecoveryManifest manifest(QUuid::createUuid(), Date{0},
                                        configuration(session, separateTracks));

        std::vector<double> fractions;
        const RecordingRecord record = AudioRecordingWriter::exportSession(
            manifest, session, std::nullopt,
            [&](double fraction) { fractions.push_back(fraction); });
        QCOMPARE(record.files().size(), files);
        // Every chunk of every file is well over the reporting step, so each one is reported.
        QCOMPARE(fractions.size(), static_cast<std::size_t>(files * kChunks));
        QVERIFY(std::is_sorted(fractions.begin(), fractions.end()));
        QVERIFY(std::adjacent_find(fractions.begin(), fractions.end()) == fractions.end());
        QVERIFY(fractions.front() > 0.0);
        QCOMPARE(fractions.back(), 1.0);
    }

    void finishReportsTheProgressOfItsExport() {
        const QString root = m_folder.filePath(QStringLiteral("finish"));
        AudioRecordingWriter writer(configuration(root, true), root);
        std::vector<double> fractions; // written on the writer queue, read after the finish
        writer.onExportProgress = [&](double fraction) { fractions.push_back(fraction); };
        writer.activate(10.0);
        writer.appendAsync(test::stereoBuffer(48000, 0.5F, -0.5F), AudioSource::system, 10.0);
        writer.appendAsync(test::stereoBuffer(48000, 0.25F, 0.0F), AudioSource::microphone, 10.0);
        std::promise<Result<RecordingRecord>> finished;
        writer.finish(
            11.0, [&](Result<RecordingRecord> result) { finished.set_value(std::move(result)); });
        QCOMPARE(finished.get_future().get().get().files().size(), 3);
        QVERIFY(fractions.size() > 3);
        QVERIFY(std::is_sorted(fractions.begin(), fractions.end()));
        QCOMPARE(fractions.back(), 1.0);
    }
};

KIVO_TEST_CLASS(ExportProgressTest)
#include "ExportProgressTest.moc"
