#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "infrastructure/capture/AudioDevices.h"
#include "infrastructure/capture/RunningAudioApps.h"
#include "infrastructure/system/PulseSourceCatalog.h"

#include <QCoreApplication>
#include <QTest>

using namespace kivo;
using namespace Qt::StringLiterals;

namespace {

std::vector<RunningAudioApp> appsOf(qint32 pid) {
    auto apps = RunningAudioApps::list();
    std::erase_if(apps, [pid](const RunningAudioApp& app) { return app.id != pid; });
    return apps;
}

} // namespace

// What the sound server offers to record: the inputs the microphone can be switched to, and
// the running programs that can be recorded on their own.
class AudioDevicesTest : public QObject {
    Q_OBJECT

private slots:
    void init() { KIVO_REQUIRE_SOUND_SERVER(); }

    // The server's inputs in its order, monitors left out; a new input appears, a removed one
    // goes; without a server the list is empty.
    void listsTheServersInputsButNoMonitors() {
        std::vector<AudioInputDevice> expected;
        for (const auto& source : PulseConnection().sources()) {
            if (!source.isMonitor) {
                expected.push_back({source.index, source.description});
            }
        }
        QCOMPARE(AudioDevices::inputs(), expected);
        QCOMPARE(
            std::ranges::count(expected, AudioInputDevice{*test::sourceIndex(u"kivo_test_mic"_s),
                                                          u"Kivo_Test_Mic"_s}),
            1);

        const auto named = [] {
            const auto inputs = AudioDevices::inputs();
            return std::any_of(inputs.begin(), inputs.end(),
                               [](const auto& device) { return device.name == u"Extra_Mic"_s; });
        };
        test::LoadedModule extra(u"module-remap-source"_s,
                                 {u"source_name=kivo_test_extra"_s,
                                  u"master=kivo_test_mic_feed.monitor"_s,
                                  u"source_properties=device.description=Extra_Mic"_s});
        QVERIFY(test::waitUntil(named));
        extra.unload();
        QVERIFY(test::waitUntil([&] { return !named(); }));

        const test::ScopedPulseServer nowhere("unix:/nonexistent/kivo/native");
        QVERIFY(AudioDevices::inputs().empty());
    }

    // Once, by its name, binary and what its first stream plays, however many streams it plays;
    // this program and the sound server are left out. (That it goes when it quits: the next test.)
    void listsAPlayingProgram() {
        test::TestPlayer player(
            {u"default,tone,440,0.1,0,forever"_s, u"default,tone,660,0.1,0,forever"_s},
            u"Kivo Tone"_s);
        QVERIFY(player.waitPlaying(0) && player.waitPlaying(1));
        const qint32 pid = player.pid();
        QVERIFY(test::waitUntil([&] { return !appsOf(pid).empty(); }));
        QCOMPARE(appsOf(pid), (std::vector<RunningAudioApp>{
                                  {pid, u"Kivo Tone"_s, u"kivo_test_player"_s, u"test signal"_s}}));
        PulseConnection connection; // this program is a client of the server now
        for (const auto& app : RunningAudioApps::list(connection)) {
            QVERIFY(app.id != static_cast<qint32>(QCoreApplication::applicationPid()));
            QVERIFY(!u" pipewire pipewire-pulse wireplumber pulseaudio "_s.contains(
                u' ' + app.bundleID.value_or(QString()) + u' '));
        }
    }

    // A server that fails while the programs are listed is reported, so that the start does not
    // take it for the chosen program having quit.
    void listingOnAServerThatWentAwayFails() {
        test::PrivateServer server;
        QVERIFY(server.started());
        const test::ScopedPulseServer privateServer(server.address());
        PulseConnection connection;
        server.stop();
        QVERIFY_THROWS_EXCEPTION(PlatformError, RunningAudioApps::list(connection));
    }

    // Listing, and anything before the test, do not count as a program quitting.
    void programsQuittingTogetherAreReportedOnceAfterTheyLeft() {
        PulseSourceCatalog catalog;
        const auto listed = [&](qint32 pid) {
            const auto apps = catalog.applications();
            return std::any_of(apps.begin(), apps.end(), [&](auto& app) { return app.id == pid; });
        };
        const QStringList playing{u"default,tone,440,0.1,0,forever"_s};
        auto first = std::make_unique<test::TestPlayer>(playing);
        auto second = std::make_unique<test::TestPlayer>(playing);
        QVERIFY(first->waitPlaying(0) && second->waitPlaying(0));
        const qint32 pids[] = {first->pid(), second->pid()};
        QVERIFY(test::waitUntil([&] { return listed(pids[0]) && listed(pids[1]); }, 5000));
        const int coalesce = 2 * static_cast<int>(PulseSourceCatalog::kCoalesceDelay.count());
        QTest::qWait(coalesce);
        int reports = 0;
        bool stillListed = false;
        catalog.onClientRemoved = [&] {
            ++reports;
            stillListed = stillListed || listed(pids[0]) || listed(pids[1]);
        };
        first.reset();
        second.reset();
        QTRY_COMPARE(reports, 1);
        QTest::qWait(coalesce);
        QCOMPARE(reports, 1);
        QVERIFY(!stillListed);
    }
};

KIVO_TEST_CLASS(AudioDevicesTest)
#include "AudioDevicesTest.moc"
