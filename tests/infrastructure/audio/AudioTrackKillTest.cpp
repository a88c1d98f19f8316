#include "AudioTestSupport.h"
#include "TestMain.h"

#include "infrastructure/audio/AudioRecordingWriter.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;

// A recording killed while it writes (SIGKILL: no destructor, no close, nothing flushed by the
// program) leaves track files that read back with every frame appended before the kill, and a
// session that exports.
class AudioTrackKillTest : public QObject {
    Q_OBJECT

private slots:
    void killedWriterLeavesEveryAppendedFrame_data() {
        QTest::addColumn<bool>("session");
        QTest::addColumn<int>("appendsBeforeKill");
        QTest::newRow("track, after 1 append") << false << 1;
        QTest::newRow("track, after 400 appends") << false << 400;
        QTest::newRow("session writer, after 100 appends") << true << 100;
    }
    void killedWriterLeavesEveryAppendedFrame() {
        QFETCH(bool, session);
        QFETCH(int, appendsBeforeKill);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("system.caf"));
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KIVO_WRITER_CHILD),
                    session ? QStringList{QStringLiteral("session"),
                                          dir.filePath(QStringLiteral("root")),
                                          dir.filePath(QStringLiteral("out"))}
                            : QStringList{QStringLiteral("track"), path});
        QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));

        QString directory;
        qint64 appended = 0;
        int appends = 0;
        const auto takeLines = [&] {
            while (child.canReadLine()) {
                const QString line = QString::fromUtf8(child.readLine()).trimmed();
                if (session && directory.isEmpty()) {
                    directory = line;
                } else {
                    appended = line.toLongLong();
                    ++appends;
                }
            }
        };
        while (appends < appendsBeforeKill) {
            QVERIFY2(child.waitForReadyRead(10000), "the writer stopped reporting");
            takeLines();
        }
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        takeLines();

        const qint64 leadIn = session ? 0 : 480;
        if (session) {
            path = directory + QStringLiteral("/system.caf");
            QFile manifest(directory + QStringLiteral("/session.json"));
            QVERIFY(manifest.open(QIODevice::ReadOnly));
            const RecordingRecord record = AudioRecordingWriter::exportSession(
                RecoveryManifest::decoded(manifest.readAll()), directory);
            QVERIFY(record.duration() * 48000.0 >= static_cast<double>(appended));
        }
        QVERIFY(session || !CafReader(path).isComplete());
        const auto samples = test::readTrackFile(path);
        QVERIFY(samples.frames() >= appended);
        for (qint64 frame = 0; frame < samples.frames(); ++frame) {
            const float left = frame < leadIn ? 0.0F : static_cast<float>(frame % 1000) / 1000.0F;
            if (samples.left[frame] != left || samples.right[frame] != -left) {
                QFAIL(qPrintable(QStringLiteral("frame %1 differs").arg(frame)));
            }
        }
    }
};

KIVO_TEST_CLASS(AudioTrackKillTest)
#include "AudioTrackKillTest.moc"
