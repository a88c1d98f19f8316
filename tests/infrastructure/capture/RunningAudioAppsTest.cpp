#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/RunningAudioApps.h"

#include <QCoreApplication>
#include <QTest>

using namespace kivo;

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

    // Once, by its name and binary, however many streams it plays; this program and the sound
    // server are left out; a program that quit is gone.
    void listsAPlayingProgramUntilItQuits() {
        qint32 pid = 0;
        {
            test::TestPlayer player({QStringLiteral("default,tone,440,0.1,0,forever"),
                                     QStringLiteral("default,tone,660,0.1,0,forever")},
                                    QStringLiteral("Kivo Tone"));
            QVERIFY(player.waitPlaying(0) && player.waitPlaying(1));
            pid = player.pid();
            QVERIFY(test::waitUntil([&] { return !appsOf(pid).empty(); }));
            QCOMPARE(appsOf(pid),
                     (std::vector<RunningAudioApp>{
                         {pid, QStringLiteral("Kivo Tone"), QStringLiteral("kivo_test_player")}}));
            PulseConnection connection; // this program is a client of the server now
            for (const auto& app : RunningAudioApps::list(connection)) {
                QVERIFY(app.id != static_cast<qint32>(QCoreApplication::applicationPid()));
                const auto binary = app.bundleID.value_or(QString());
                QVERIFY2(!QStringList({QStringLiteral("pipewire"), QStringLiteral("pipewire-pulse"),
                                       QStringLiteral("wireplumber"), QStringLiteral("pulseaudio")})
                              .contains(binary),
                         qPrintable(binary));
            }
        }
        QVERIFY(test::waitUntil([&] { return appsOf(pid).empty(); }));
    }
};

KIVO_TEST_CLASS(RunningAudioAppsTest)
#include "RunningAudioAppsTest.moc"
