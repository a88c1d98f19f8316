#include "CaptureTestSupport.h"
#include "ModelTestSupport.h"
#include "TestMain.h"

#include "ui/GainRow.h"
#include "ui/LinuxDesktopActions.h"
#include "ui/StudioPage.h"

#include <QLabel>
#include <QTest>

using namespace kivo;
using namespace kivo::test;
using namespace Qt::StringLiterals;

// The studio's meters on a real recording: a source played at full scale turns its meter to the
// clip colour and its row says so until the next start; a tone 6 dB below does neither.
class StudioMetersTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void fullScaleIsShownUntilTheNextStart_data() {
        QTest::addColumn<QString>("amplitude");
        QTest::addColumn<bool>("clips");
        QTest::newRow("0 dBFS tone") << u"1.0"_s << true;
        QTest::newRow("-6 dBFS tone") << u"0.5"_s << false;
    }
    void fullScaleIsShownUntilTheNextStart() {
        QFETCH(QString, amplitude);
        QFETCH(bool, clips);
        UserFolders folders;
        auto model = folders.model();
        LinuxDesktopActions desktop([] { return SoundServerState::connected; });
        StudioPage studio(*model, desktop);
        studio.show();
        auto* row = studio.findChild<GainRow*>();
        auto* warning = row->findChild<QLabel*>(u"clipped"_s);

        TestPlayer player({u"default,tone,440,"_s + amplitude + u",0,forever"_s});
        QVERIFY(player.waitPlaying(0));
        RecordingConfiguration configuration = folders.configuration(RecordingMode::application);
        configuration.applicationPID = player.pid();
        model->setConfiguration(configuration);
        QVERIFY(startRecording(*model));
        QTest::qWait(1000);
        QVERIFY(row->level() > 0.4F); // the tone is heard at all
        QCOMPARE(model->clippedSinceStart().system, clips);
        QCOMPARE(row->clippingNow(), clips);
        QCOMPARE(warning->isVisibleTo(&studio), clips);
        QVERIFY(!model->clippedSinceStart().microphone);

        QVERIFY(await([&](auto done) { model->stop(std::move(done)); }));
        QCOMPARE(warning->isVisibleTo(&studio), clips); // still said after the recording
        // The next start clears it; at half the gain the same tone stays below full scale.
        configuration.systemGain = 0.5F;
        model->setConfiguration(configuration);
        QVERIFY(startRecording(*model));
        QTest::qWait(1000);
        QVERIFY(row->level() > 0.2F && !model->clippedSinceStart().system);
        QVERIFY(!warning->isVisibleTo(&studio) && !row->clippingNow());
        QVERIFY(await([&](auto done) { model->stop(std::move(done)); }));
    }
};

KIVO_TEST_CLASS(StudioMetersTest)
#include "StudioMetersTest.moc"
