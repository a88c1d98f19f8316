#include "AudioTestSupport.h"
#include "TestMain.h"
#include "helpers/TrackWriterPattern.h"

#include "infrastructure/audio/CafFile.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kivo;

// A recording killed while it writes leaves a track file that reads back, through CafReader,
// with every frame appended before the kill.
class AudioTrackKillTest : public QObject {
    Q_OBJECT

private slots:
    void killedWriterLeavesEveryAppendedFrame_data() {
        QTest::addColumn<int>("reportsBeforeKill");
        QTest::newRow("after 1 append") << 1;
        QTest::newRow("after 40 appends") << 40;
        QTest::newRow("after 400 appends") << 400;
    }
    void killedWriterLeavesEveryAppendedFrame() {
        namespace pattern = test::trackwriter;
        QFETCH(int, reportsBeforeKill);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("system.caf"));

        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(KIVO_TRACK_WRITER_CHILD), {path});
        QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));

        // Each line is the track's length after an append that has returned.
        QByteArray pending;
        qint64 reported = 0;
        int reports = 0;
        const auto takeLines = [&] {
            pending += child.readAllStandardOutput();
            qsizetype end = 0;
            while ((end = pending.indexOf('\n')) >= 0) {
                reported = pending.left(end).toLongLong();
                pending.remove(0, end + 1);
                ++reports;
            }
        };
        while (reports < reportsBeforeKill) {
            QVERIFY2(child.waitForReadyRead(10000), "the writer stopped reporting");
            takeLines();
        }
        QCOMPARE(child.state(), QProcess::Running);
        child.kill(); // SIGKILL: no destructor, no close, nothing flushed by the program
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        takeLines();
        QVERIFY(reported >= pattern::kLeadInFrames + reportsBeforeKill * pattern::kBufferFrames);

        CafReader reader(path);
        QVERIFY(!reader.isComplete());
        QVERIFY2(reader.length() >= reported,
                 qPrintable(QStringLiteral("%1 frames in the file, %2 reported")
                                .arg(reader.length())
                                .arg(reported)));
        const auto samples = test::readTrackFile(path);
        QCOMPARE(static_cast<qint64>(samples.left.size()), reader.length());
        for (qint64 frame = 0; frame < reader.length(); ++frame) {
            const auto at = static_cast<std::size_t>(frame);
            const bool audio = frame >= pattern::kLeadInFrames;
            const float left = audio ? pattern::sample(frame, 0) : 0.0f;
            const float right = audio ? pattern::sample(frame, 1) : 0.0f;
            if (samples.left[at] != left || samples.right[at] != right) {
                QFAIL(qPrintable(QStringLiteral("frame %1 holds %2, %3 instead of %4, %5")
                                     .arg(frame)
                                     .arg(samples.left[at])
                                     .arg(samples.right[at])
                                     .arg(left)
                                     .arg(right)));
            }
        }
    }
};

KIVO_TEST_CLASS(AudioTrackKillTest)
#include "AudioTrackKillTest.moc"
