#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/audio/AudioFiles.h"
#include "infrastructure/audio/AudioRecordingWriter.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace kivo;

class ExportProgressTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_folder;

private slots:
    void exportProgressGrowsToOneOverEveryFileWritten_data() {
        QTest::addColumn<QStringList>("tracks");
        QTest::addColumn<bool>("separateTracks");
        QTest::addColumn<int>("files");
        const QStringList both{QStringLiteral("system.caf"), QStringLiteral("microphone.caf")};
        QTest::newRow("one track") << QStringList{both[1]} << true << 1;
        QTest::newRow("two tracks merged") << both << false << 1;
        QTest::newRow("two tracks and separate files") << both << true << 3;
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
        RecordingConfiguration configuration(
            QUrl::fromLocalFile(session + QStringLiteral("/out/")));
        configuration.format = AudioOutputFormat::wav;
        configuration.saveSeparateTracks = separateTracks;
        const RecoveryManifest manifest(QUuid::createUuid(), Date{0}, configuration);

        std::vector<double> fractions;
        const RecordingRecord record = AudioRecordingWriter::exportSession(
            manifest, session, std::nullopt,
            [&](double fraction) { fractions.push_back(fraction); });
        QCOMPARE(record.files().size(), files);
        // Every chunk of every file is well over the reporting step, so each one is reported.
        QCOMPARE(fractions.size(), static_cast<std::size_t>(files * kChunks));
        QVERIFY(std::adjacent_find(fractions.begin(), fractions.end(), std::greater_equal<>()) ==
                fractions.end());
        QVERIFY(fractions.front() > 0.0);
        QCOMPARE(fractions.back(), 1.0);
    }
};

KIVO_TEST_CLASS(ExportProgressTest)
#include "ExportProgressTest.moc"
