#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/PulseConnection.h"
#include "infrastructure/capture/RunningAudioApps.h"

#include <QCoreApplication>
#include <QTest>

#include <algorithm>

using namespace kivo;
using test::TestPlayer;

namespace {

std::vector<RunningAudioApp> appsOf(qint32 pid) {
    std::vector<RunningAudioApp> found;
    for (const auto& app : RunningAudioApps::list()) {
        if (app.id == pid) {
            found.push_back(app);
        }
    }
    return found;
}

} // namespace

// The running programs offered for recording on their own.
class RunningAudioAppsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    void listsAPlayingProgramByProcessNameAndBinary() {
        TestPlayer player({QStringLiteral("default,tone,440,0.1,0,forever")},
                          QStringLiteral("Kivo Tone"));
        QVERIFY(player.waitPlaying(0));
        QVERIFY(test::waitUntil([&] { return !appsOf(player.pid()).empty(); }, 5000));
        const auto apps = appsOf(player.pid());
        QCOMPARE(apps.size(), std::size_t{1});
        QCOMPARE(apps.front(), (RunningAudioApp{player.pid(), QStringLiteral("Kivo Tone"),
                                                QStringLiteral("kivo_test_player")}));
    }

    void listsAProgramWithSeveralStreamsOnce() {
        TestPlayer player({QStringLiteral("default,tone,440,0.1,0,forever"),
                           QStringLiteral("default,tone,660,0.1,0,forever")});
        QVERIFY(player.waitPlaying(0));
        QVERIFY(player.waitPlaying(1));
        QVERIFY(test::waitUntil([&] { return !appsOf(player.pid()).empty(); }, 5000));
        QCOMPARE(appsOf(player.pid()).size(), std::size_t{1});
    }

    void leavesOutThisProgramAndTheSoundServer() {
        PulseConnection connection; // this program is a client of the server now
        const auto apps = RunningAudioApps::list(connection);
        const auto self = static_cast<qint32>(QCoreApplication::applicationPid());
        for (const auto& app : apps) {
            QVERIFY(app.id != self);
            const auto binary = app.bundleID.value_or(QString());
            for (const auto* server : {"pipewire", "pipewire-pulse", "wireplumber", "pulseaudio"}) {
                QVERIFY2(binary != QLatin1String(server), qPrintable(binary));
            }
        }
    }

    void aProgramThatQuitIsNoLongerListed() {
        qint32 pid = 0;
        {
            TestPlayer player({QStringLiteral("default,tone,440,0.1,0,forever")});
            QVERIFY(player.waitPlaying(0));
            pid = player.pid();
            QVERIFY(test::waitUntil([&] { return !appsOf(pid).empty(); }, 5000));
        }
        QVERIFY(test::waitUntil([&] { return appsOf(pid).empty(); }, 5000));
    }
};

KIVO_TEST_CLASS(RunningAudioAppsTest)
#include "RunningAudioAppsTest.moc"
