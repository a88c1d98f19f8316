#include "CaptureTestSupport.h"
#include "TestMain.h"

#include "application/RecordingCoordinator.h"
#include "infrastructure/capture/AudioCaptureService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <csignal>

using namespace kivo;
using namespace Qt::StringLiterals;
using test::CapturedSignal;
using test::TestPlayer;

namespace {

// An exported file (decoded by FFmpeg) or a track file, as a signal from 0 s.
CapturedSignal heard(const QString& path) {
    return {0.0,
            path.endsWith(u".caf") ? test::readTrackFile(path).left : test::decodeFile(path).left};
}

double seconds(const CapturedSignal& signal) {
    return static_cast<double>(signal.left.size()) / 48000.0;
}

double decibels(double ratio) {
    return 20.0 * std::log10(std::max(ratio, 1e-12));
}

} // namespace

// Recordings from start to exported files, through the coordinator and the capture service,
// against the sound server the test command started.
class AudioCaptureServiceTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<AudioCaptureService> m_service;
    std::unique_ptr<RecordingCoordinator> m_coordinator;
    int m_unexpectedStops = 0;

    QString captures() const { return m_dir.filePath(u"Captures"_s); }
    QString error() const { return m_coordinator->error().value_or(QString()); }
    QString track(const char* name) const {
        return m_service->sessionFolder() + u'/' + QString::fromLatin1(name);
    }

    RecordingConfiguration configuration(RecordingMode mode, bool microphone) const {
        RecordingConfiguration c(QUrl::fromLocalFile(m_dir.filePath(u"out"_s) + u'/'));
        c.name = u"測試"_s;
        c.mode = mode;
        c.includesMicrophone = microphone;
        c.format = AudioOutputFormat::wav;
        c.systemGain = c.microphoneGain = 1.0F;
        return c;
    }

    // Starts and waits until recording; false (with the error shown) when the start failed.
    bool start(const RecordingConfiguration& configuration) {
        bool done = false;
        m_coordinator->start(configuration, [&done] { done = true; });
        return test::waitUntil([&] { return done; }, 15000) &&
               m_coordinator->state() == RecordingState::recording;
    }

    std::optional<RecordingRecord> stop() {
        bool done = false;
        std::optional<RecordingRecord> record;
        m_coordinator->stop([&](std::optional<RecordingRecord> r) {
            record = std::move(r);
            done = true;
        });
        test::waitUntil([&] { return done; }, 30000);
        return record;
    }

private slots:
    void init() {
        KIVO_REQUIRE_SOUND_SERVER();
        QDir(captures()).removeRecursively();
        QDir(m_dir.filePath(u"out"_s)).removeRecursively();
        m_service = std::make_shared<AudioCaptureService>(captures());
        m_coordinator = std::make_unique<RecordingCoordinator>(m_service);
        m_unexpectedStops = 0;
        m_coordinator->onUnexpectedStop = [this] { ++m_unexpectedStops; };
    }
    void cleanup() {
        m_coordinator.reset();
        m_service.reset();
    }

    // The chosen process plays one stream at once and opens a second one after the start; the
    // other process is at least 40 dB down.
    void applicationModeRecordsOnlyTheChosenProcess() {
        TestPlayer chosen(
            {u"default,tone,440,0.3,0,forever"_s, u"default,tone,2200,0.3,1.2,forever"_s},
            u"Chosen Player"_s);
        TestPlayer other({u"default,tone,1320,0.3,0,forever"_s});
        QVERIFY(chosen.waitPlaying(0) && other.waitPlaying(0));
        auto c = configuration(RecordingMode::application, false);
        c.applicationPID = chosen.pid();
        QVERIFY2(start(c), qPrintable(error()));
        QVERIFY(chosen.waitPlaying(1));
        QTest::qWait(1500);
        QVERIFY2(stop(), qPrintable(error()));

        const auto recorded = heard(track("system.caf"));
        QCOMPARE_GT(recorded.usualAmplitude(440, 0.2, 1.0), 0.2);
        QCOMPARE_GE(
            decibels(recorded.usualAmplitude(440, 0.2, 1.0) / recorded.amplitude(1320, 0.2, 1.0)),
            40.0);
        // The stream opened after the start.
        QCOMPARE_GT(recorded.usualAmplitude(2200, seconds(recorded) - 0.8, seconds(recorded) - 0.1),
                    0.2);
    }

    void microphoneModeRecordsTheMicrophone() {
        TestPlayer speaker({u"kivo_test_mic_feed,tone,1000,0.4,0,forever"_s});
        QVERIFY(speaker.waitPlaying(0));
        QVERIFY2(start(configuration(RecordingMode::microphone, false)), qPrintable(error()));
        QTest::qWait(1000);
        QVERIFY2(stop(), qPrintable(error()));
        QVERIFY(!QFileInfo::exists(track("system.caf")));
        QVERIFY(heard(track("microphone.caf")).usualAmplitude(1000, 0.2, 0.9) > 0.3);
    }

    // System mode records every playing process; the separate tracks hold their own source
    // each, at least 40 dB above the other.
    void systemModeWithSeparateTracks() {
        TestPlayer first({u"default,tone,440,0.3,0,forever"_s});
        TestPlayer second({u"default,tone,1320,0.3,0,forever"_s});
        TestPlayer speaker({u"kivo_test_mic_feed,tone,1000,0.3,0,forever"_s});
        QVERIFY(first.waitPlaying(0) && second.waitPlaying(0) && speaker.waitPlaying(0));
        auto c = configuration(RecordingMode::system, true);
        c.saveSeparateTracks = true;
        QVERIFY2(start(c), qPrintable(error()));
        QTest::qWait(1500);
        const auto record = stop();
        QVERIFY2(record, qPrintable(error()));
        QCOMPARE(record->files().size(), 3);
        const auto merged = heard(record->files()[0].toLocalFile());
        const auto system = heard(record->files()[1].toLocalFile());
        const auto microphone = heard(record->files()[2].toLocalFile());
        for (const double hz : {440.0, 1320.0, 1000.0}) {
            QVERIFY2(merged.usualAmplitude(hz, 0.3, 1.3) > 0.2, qPrintable(QString::number(hz)));
        }
        QVERIFY(system.usualAmplitude(440, 0.3, 1.3) > 0.2 &&
                system.usualAmplitude(1320, 0.3, 1.3) > 0.2);
        QVERIFY(decibels(system.usualAmplitude(440, 0.3, 1.3) / system.amplitude(1000, 0.3, 1.3)) >
                40);
        QVERIFY(microphone.usualAmplitude(1000, 0.3, 1.3) > 0.2);
        QVERIFY(decibels(microphone.usualAmplitude(1000, 0.3, 1.3) /
                         microphone.amplitude(440, 0.3, 1.3)) > 40);
    }

    void aRecordingOfOneSourceHoldsTheToneFromFirstToLastMoment_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<int>("recordedMs");
        // Right after the start: the streams still measure their clocks and hold back what came.
        QTest::newRow("system, stopped at once") << RecordingMode::system << 40;
        QTest::newRow("microphone, stopped at once") << RecordingMode::microphone << 40;
        QTest::newRow("system") << RecordingMode::system << 600;
        QTest::newRow("microphone") << RecordingMode::microphone << 600;
    }
    void aRecordingOfOneSourceHoldsTheToneFromFirstToLastMoment() {
        QFETCH(RecordingMode, mode);
        QFETCH(int, recordedMs);
        TestPlayer player(
            {u"default,tone,440,0.3,0,forever"_s, u"kivo_test_mic_feed,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0) && player.waitPlaying(1));
        QVERIFY2(start(configuration(mode, false)), qPrintable(error()));
        QTest::qWait(recordedMs);
        const auto record = stop();
        QVERIFY2(record, qPrintable(error()));
        const auto merged = heard(record->files().front().toLocalFile());
        const auto end = seconds(merged);
        QVERIFY2(merged.firstAbove(0.1F, end - 0.005), "the last 5 ms are silent");
        // One source, nothing to line up with: the file begins at its first captured frame.
        // PipeWire gives a newly linked monitor stream a graph cycle of zeros first.
        const bool pipeWire = qEnvironmentVariable("KIVO_TEST_SOUND_SERVER") == u"pipewire";
        QCOMPARE_LE(merged.firstAbove(0.1F, 0).value_or(1.0), pipeWire ? 0.025 : 0.001);
    }

    void aSourceThatDeliversNothingIsReopenedOnceThenGivenUp_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<int>("stalledMs");
        QTest::addColumn<QString>("message"); // empty: the recording goes on
        QTest::newRow("system and microphone, 4 s") << RecordingMode::system << 4000 << QString();
        QTest::newRow("microphone, 7 s") << RecordingMode::microphone << 7000
                                         << u"麥克風已 3 秒沒有送來音訊，將保存目前錄音。"_s;
    }
    // The sound server hangs (stopped with SIGSTOP): no fragment and no event comes.
    void aSourceThatDeliversNothingIsReopenedOnceThenGivenUp() {
        QFETCH(RecordingMode, mode);
        QFETCH(int, stalledMs);
        QFETCH(QString, message);
        TestPlayer player(
            {u"default,tone,440,0.3,0,forever"_s, u"kivo_test_mic_feed,tone,440,0.3,0,forever"_s});
        QVERIFY(player.waitPlaying(0) && player.waitPlaying(1));
        QVERIFY2(start(configuration(mode, mode == RecordingMode::system)), qPrintable(error()));
        QTest::qWait(500);
        const auto server = test::serverProcesses();
        QVERIFY(!server.isEmpty());
        const auto signal = [&](int number) {
            for (const auto pid : server) {
                ::kill(pid, number);
            }
        };
        auto resume = qScopeGuard([&] { signal(SIGCONT); });
        signal(SIGSTOP);
        test::waitUntil([&] { return m_unexpectedStops > 0; }, stalledMs);
        resume.dismiss();
        signal(SIGCONT);
        QCOMPARE(error(), message);
        QTest::qWait(1000);
        QVERIFY2(stop(), qPrintable(error()));
        for (const char* file : {"system.caf", "microphone.caf"}) {
            if (QFileInfo::exists(track(file)) && message.isEmpty()) {
                const auto recorded = heard(track(file));
                QVERIFY2(recorded.usualAmplitude(440, seconds(recorded) - 0.6,
                                                 seconds(recorded) - 0.1) > 0.2,
                         file);
            }
        }
    }

    void gainsScaleTheRecordedLevel() {
        TestPlayer output({u"default,tone,440,0.5,0,forever"_s});
        QVERIFY(output.waitPlaying(0));
        QVERIFY2(start(configuration(RecordingMode::system, false)), qPrintable(error()));
        QTest::qWait(1000);
        m_coordinator->setGains(0.25F, 1.0F);
        QTest::qWait(1000);
        QVERIFY(stop());
        const auto recorded = heard(track("system.caf"));
        // The change counts from the moment it was made, whenever the audio arrives; the file
        // may begin up to a few hundred milliseconds before the activation (its first frame).
        const double full = recorded.usualAmplitude(440, 0.2, 0.8);
        const double quarter = recorded.usualAmplitude(440, 1.5, 1.9);
        QCOMPARE_LT(std::abs(full - 0.5), 0.03);
        QCOMPARE_LT(std::abs(quarter / full - 0.25), 0.02);
    }

    void pauseLeavesThePausedStretchOut() {
        TestPlayer output({u"default,tone,440,0.3,0,forever"_s});
        QVERIFY(output.waitPlaying(0));
        QVERIFY2(start(configuration(RecordingMode::system, false)), qPrintable(error()));
        QElapsedTimer running;
        running.start();
        QTest::qWait(1000);
        m_coordinator->togglePause();
        qint64 recordedMs = running.elapsed();
        {
            // Played only while the recording is paused.
            TestPlayer duringPause({u"default,tone,1320,0.3,0,0.6"_s});
            QVERIFY(duringPause.waitDone(0));
        }
        m_coordinator->togglePause();
        running.restart();
        QTest::qWait(1000);
        recordedMs += running.elapsed();
        const auto record = stop();
        QVERIFY(record);
        const auto merged = heard(record->files().front().toLocalFile());
        QCOMPARE(double(merged.left.size()), std::round(record->duration() * 48000.0));
        QCOMPARE_LT(std::abs(record->duration() - double(recordedMs) / 1000.0), 0.05);
        // The pause joins the tone with a jump in phase, so each side is measured on its own.
        QVERIFY(merged.usualAmplitude(440, 0.2, 0.8) > 0.2);
        QVERIFY(merged.usualAmplitude(440, seconds(merged) - 0.8, seconds(merged) - 0.2) > 0.2);
        QCOMPARE_LT(merged.amplitude(1320, 0, 1e9), 0.003); // the paused stretch's audio
    }

    void playedAndMicrophoneTracksLineUp_data() {
        QTest::addColumn<RecordingMode>("mode");
        QTest::newRow("system") << RecordingMode::system;
        QTest::newRow("application") << RecordingMode::application;
    }
    // A microphone that hears exactly what the default output plays (the output's monitor itself:
    // on PipeWire a remapped source is a capture stream feeding a node of its own, one more
    // buffer, whose delay a loaded machine can change): every click lands within 12 ms in both
    // tracks, whether the output is recorded whole or through the application's own stream. Capture
    // times come from the server's latency reports, of which most can be a PipeWire cycle late on a
    // busy machine.
    void playedAndMicrophoneTracksLineUp() {
        QFETCH(RecordingMode, mode);
        auto c = configuration(mode, true);
        c.microphoneDeviceID = test::sourceIndex(u"kivo_test_output.monitor"_s);
        QVERIFY(c.microphoneDeviceID);
        TestPlayer clicks({u"default,clicks,3000,0.8,0,2.5"_s});
        QVERIFY(clicks.waitPlaying(0));
        if (mode == RecordingMode::application) {
            c.applicationPID = clicks.pid();
        }
        QVERIFY2(start(c), qPrintable(error()));
        QVERIFY(clicks.waitDone(0));
        QVERIFY(stop());
        const auto system = heard(track("system.caf"));
        const auto microphone = heard(track("microphone.caf"));
        int compared = 0;
        for (auto click = system.firstAbove(0.3F, 0); click;
             click = system.firstAbove(0.3F, *click + 0.25), ++compared) {
            const auto at = microphone.firstAbove(0.3F, *click - 0.1);
            QVERIFY2(at, "a click is missing from the microphone track");
            QCOMPARE_LE(std::abs(*at - *click), 0.012);
        }
        QCOMPARE_GE(compared, 2);
    }

    void aProcessThatHasEndedCannotBeRecorded() {
        auto c = configuration(RecordingMode::application, false);
        {
            TestPlayer gone({u"default,tone,440,0.3,0,0.1"_s});
            QVERIFY(gone.waitDone(0));
            c.applicationPID = gone.pid();
        }
        QVERIFY(!start(c));
        QCOMPARE(error(), u"選定 App 已結束，請重新選擇。"_s);
        QVERIFY(QDir(captures()).isEmpty());
    }

    // The microphone's message when it is part of the recording, the system audio's otherwise.
    void withoutASoundServerTheStartFailsWithTheServerMessage() {
        const test::ScopedPulseServer nowhere("unix:/nonexistent/kivo/native");
        QVERIFY(!start(configuration(RecordingMode::system, true)));
        QVERIFY2(error().startsWith(QStringLiteral("無法使用麥克風：無法連線到音訊伺服器。請確認 "
                                                   "PipeWire 或 PulseAudio 正在執行。\n")) &&
                     error().endsWith(u"找不到正在執行的音訊伺服器"_s),
                 qPrintable(error()));
        QVERIFY(!start(configuration(RecordingMode::system, false)));
        QVERIFY2(error().startsWith(QStringLiteral(
                     "無法擷取系統音訊。請確認 PipeWire 或 PulseAudio 正在執行。\n")),
                 qPrintable(error()));
        QVERIFY(QDir(captures()).isEmpty());
    }

    void aServerKilledDuringTheRecordingIsReportedAndWhatWasRecordedIsSaved() {
        test::PrivateServer server;
        QVERIFY(server.started());
        {
            const test::ScopedPulseServer privateServer(server.address());
            QVERIFY2(start(configuration(RecordingMode::system, true)), qPrintable(error()));
        }
        QTest::qWait(600);
        server.stop();
        QVERIFY(test::waitUntil([&] { return m_unexpectedStops > 0; }));
        QVERIFY2(error().startsWith(u"系統音訊來源中斷。\n"_s) &&
                     error().contains(u"與音訊伺服器的連線中斷了"_s),
                 qPrintable(error()));
        const auto record = stop();
        QVERIFY2(record, qPrintable(error()));
        QVERIFY(record->duration() > 0.5);
        QVERIFY(heard(record->files().front().toLocalFile()).left.size() > 24000);
    }

    void aRemovedMicrophoneStopsAndSavesTheRecording() {
        test::LoadedModule microphone(
            u"module-remap-source"_s,
            {u"source_name=kivo_test_usb_mic"_s, u"master=kivo_test_mic_feed.monitor"_s});
        TestPlayer speaker({u"kivo_test_mic_feed,tone,1000,0.4,0,forever"_s});
        QVERIFY(speaker.waitPlaying(0));
        auto c = configuration(RecordingMode::microphone, false);
        c.microphoneDeviceID = test::sourceIndex(u"kivo_test_usb_mic"_s);
        QVERIFY(c.microphoneDeviceID);
        QVERIFY2(start(c), qPrintable(error()));
        QTest::qWait(800);
        microphone.unload();
        QVERIFY(test::waitUntil([&] { return m_unexpectedStops > 0; }));
        QCOMPARE(error(), u"麥克風裝置或音訊格式已改變，將保存目前錄音。"_s);
        const auto record = stop();
        QVERIFY2(record, qPrintable(error()));
        QVERIFY(record->duration() > 0.5);
        QVERIFY(QFileInfo::exists(record->files().front().toLocalFile()));
    }
};

KIVO_TEST_CLASS(AudioCaptureServiceTest)
#include "AudioCaptureServiceTest.moc"
