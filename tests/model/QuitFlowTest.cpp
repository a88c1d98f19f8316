#include "CaptureTestSupport.h"
#include "ModelTestSupport.h"
#include "TestMain.h"

#include "application/KivoAppDelegate.h"

#include <QDir>
#include <QTest>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

namespace {

// The one part a test cannot drive for real: the user's answer to the modal question.
struct Answer : QuitQuestion {
    bool stopAndQuit = true;
    int asked = 0;
    std::function<void()> whileAsking;
    bool confirmStopAndQuit() override {
        ++asked;
        if (whileAsking) {
            whileAsking();
        }
        return stopAndQuit;
    }
};

} // namespace

class QuitFlowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void quitting_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("stopAndQuit");
        QTest::addColumn<int>("reply");       // TerminateReply
        QTest::addColumn<bool>("terminates"); // the late reply
        QTest::addColumn<int>("asked");
        QTest::addColumn<QString>("alert");
        const QString busy = KivoAppDelegate::kBusyMessage;
        QTest::newRow("idle") << "idle" << true << 1 << true << 0 << QString();
        QTest::newRow("recording, stop") << "recording" << true << 2 << true << 1 << QString();
        QTest::newRow("paused, stop") << "paused" << true << 2 << true << 1 << QString();
        QTest::newRow("recording, go on") << "recording" << false << 0 << false << 1 << QString();
        QTest::newRow("second request") << "twice" << true << 2 << true << 1 << QString();
        QTest::newRow("stop begun elsewhere") << "elsewhere" << true << 2 << true << 1 << QString();
        QTest::newRow("saving when answered") << "saving" << true << 0 << false << 1 << busy;
        // The alert of a stop that failed while the question was open is read before anything.
        QTest::newRow("failed while asking")
            << "failed" << true << 0 << false << 1 << u"無法完成音檔保存，原始錄音保留在 "_s;
        QTest::newRow("recovering") << "recovering" << true << 0 << false << 1 << busy;
        QTest::newRow("library not saved")
            << "unsaved" << true << 2 << false << 1
            << u"音檔已輸出，但錄音紀錄尚未保存。可從復原暫存重新加入紀錄。\n"_s;
    }
    void quitting() {
        QFETCH(QString, situation);
        QFETCH(bool, stopAndQuit);
        QFETCH(int, reply);
        QFETCH(bool, terminates);
        QFETCH(int, asked);
        QFETCH(QString, alert);
        UserFolders folders;
        TestPlayer player({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        auto model = folders.model();
        model->setConfiguration(folders.configuration());
        auto answer = std::make_shared<Answer>();
        answer->stopAndQuit = stopAndQuit;
        KivoAppDelegate delegate(answer);
        delegate.setModel(model.get());
        QVERIFY(!KivoAppDelegate::applicationShouldTerminateAfterLastWindowClosed());

        if (situation != u"idle" && situation != u"recovering") {
            QVERIFY(startRecording(*model));
            QTest::qWait(400);
        }
        if (situation == u"paused") {
            model->coordinator().togglePause();
        } else if (situation == u"saving") {
            answer->whileAsking = [&] { model->stop(); };
        } else if (situation == u"failed") {
            answer->whileAsking = [&] {
                // Nowhere to save to: the output folder is a file now.
                QDir().rename(folders.outputPath(), folders.outputPath() + u"-moved"_s);
                QFile(folders.outputPath()).open(QIODevice::WriteOnly);
                QVERIFY(await([&](auto done) { model->stop(done); }));
            };
        } else if (situation == u"unsaved") {
            QDir().mkpath(folders.library() + u"/library.json"_s);
        } else if (situation == u"recovering") {
            model->recover(leftSession(folders, 0, 0));
            QVERIFY(model->recovering());
        }

        std::optional<bool> late;
        bool libraryHadTheRecord = false;
        const TerminateReply answered = delegate.applicationShouldTerminate([&](bool terminate) {
            late = terminate;
            libraryHadTheRecord = !model->library().recordings.isEmpty();
        });
        QCOMPARE(static_cast<int>(answered), reply);
        if (situation == u"twice") {
            // Cancelled without a second question: the first stop-and-quit answers for itself.
            QCOMPARE(delegate.applicationShouldTerminate({}), TerminateReply::cancel);
        } else if (situation == u"elsewhere") {
            // Before the quit's own stop runs, a stop of another origin begins.
            model->stop();
        }
        QCOMPARE(answer->asked, asked);
        if (answered == TerminateReply::later) {
            QVERIFY(waitUntil([&] { return late.has_value(); }, 20000));
            QCOMPARE(*late, terminates);
            QCOMPARE(libraryHadTheRecord, terminates);
            QVERIFY(!delegate.waitingToQuit());
        }
        if (!stopAndQuit) {
            QCOMPARE(model->coordinator().state(), RecordingState::recording);
        }
        QVERIFY2(model->alertMessage().value_or(QString()).startsWith(alert) &&
                     alert.isEmpty() == !model->alertMessage(),
                 qPrintable(model->alertMessage().value_or(QString())));
        if (situation == u"unsaved") {
            // The exported session stays for recovery, which uses its export again.
            QCOMPARE(model->recoveries().size(), 1);
            QVERIFY(model->recoveries().front().manifest.exported && model->canRecord());
            QVERIFY(QDir(folders.library() + u"/library.json"_s).removeRecursively());
            const QStringList exported = filesIn(folders.outputPath());
            QVERIFY(await([&](auto done) { model->recover(model->recoveries().front(), done); }));
            QCOMPARE(*model->notice(), u"已復原「測試」。"_s);
            QCOMPARE(filesIn(folders.outputPath()), exported);
            QVERIFY(model->library().recordings.size() == 1 && model->recoveries().isEmpty());
        }
        // Nothing is left running for the next row.
        QVERIFY(await([&](auto done) { model->stop(done); }));
        QVERIFY(waitUntil([&] { return !model->recovering(); }, 20000));
    }
};

KIVO_TEST_CLASS(QuitFlowTest)
#include "QuitFlowTest.moc"
