#include "CaptureTestSupport.h"
#include "TestMain.h"
#include "audio/AudioTestSupport.h"

#include "application/RecordingCoordinator.h"
#include "infrastructure/capture/AudioCaptureService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>

using namespace kivo;
using test::TestPlayer;

namespace {

constexpr double kRate = 48000.0;

// The left channel of a track file.
std::vector<float> readTrack(const QString& path) {
    return test::readTrackFile(path).left;
}

// The left channel of a 16-bit WAV file, and its length in frames.
std::vector<float> readWav(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    qsizetype offset = 12;
    while (offset + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(offset, 4);
        const auto size = qFromLittleEndian<quint32>(bytes.constData() + offset + 4);
        if (id == "data") {
            std::vector<float> left;
            for (qsizetype at = offset + 8; at + 4 <= offset + 8 + size; at += 4) {
                left.push_back(
                    static_cast<float>(qFromLittleEndian<qint16>(bytes.constData() + at)) /
                    32768.0F);
            }
            return left;
        }
        offset += 8 + size + (size & 1);
    }
    return {};
}

std::vector<float> slice(const std::vector<float>& samples, double from, double to) {
    const auto begin = std::min(samples.size(), static_cast<std::size_t>(from * kRate));
    const auto end = std::min(samples.size(), static_cast<std::size_t>(to * kRate));
    return {samples.begin() + static_cast<std::ptrdiff_t>(begin),
            samples.begin() + static_cast<std::ptrdiff_t>(std::max(begin, end))};
}

double seconds(const std::vector<float>& samples) {
    return static_cast<double>(samples.size()) / kRate;
}

double decibels(double ratio) {
    return 20.0 * std::log10(std::max(ratio, 1e-12));
}

// First frame at or after `from` whose magnitude reaches `threshold`.
std::optional<qint64> firstAbove(const std::vector<float>& samples, float threshold, qint64 from) {
    for (auto i = static_cast<std::size_t>(std::max<qint64>(from, 0)); i < samples.size(); ++i) {
        if (std::abs(samples[i]) >= threshold) {
            return static_cast<qint64>(i);
        }
    }
    return std::nullopt;
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

    QString captures() const { return m_dir.filePath(QStringLiteral("Captures")); }

    RecordingConfiguration configuration(RecordingMode mode, bool microphone) const {
        RecordingConfiguration c(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("out")) + u'/'));
        c.name = QStringLiteral("測試");
        c.mode = mode;
        c.includesMicrophone = microphone;
        c.format = AudioOutputFormat::wav;
        c.systemGain = 1.0F;
        c.microphoneGain = 1.0F;
        return c;
    }

    // Starts and waits until recording; false (with the error shown) when the start failed.
    bool start(const RecordingConfiguration& configuration) {
        bool done = false;
        m_coordinator->start(configuration, [&done] { done = true; });
        if (!test::waitUntil([&] { return done; }, 15000)) {
            qWarning("the start did not complete");
            return false;
        }
        if (m_coordinator->state() != RecordingState::recording) {
            qWarning("start failed: %s", qPrintable(m_coordinator->error().value_or(QString())));
            return false;
        }
        return true;
    }

    std::optional<RecordingRecord> stop() {
        bool done = false;
        std::optional<RecordingRecord> record;
        m_coordinator->stop([&](std::optional<RecordingRecord> r) {
            record = std::move(r);
            done = true;
        });
        if (!test::waitUntil([&] { return done; }, 30000)) {
            qWarning("the stop did not complete");
        }
        return record;
    }

    QString track(const char* name) const {
        return m_service->sessionFolder() + u'/' + QString::fromLatin1(name);
    }

private slots:
    void init() {
        KIVO_REQUIRE_SOUND_SERVER();
        QVERIFY(m_dir.isValid());
        QDir(captures()).removeRecursively();
        QDir(m_dir.filePath(QStringLiteral("out"))).removeRecursively();
        m_service = std::make_shared<AudioCaptureService>(captures());
        m_coordinator = std::make_unique<RecordingCoordinator>(m_service);
        m_unexpectedStops = 0;
        m_coordinator->onUnexpectedStop = [this] { ++m_unexpectedStops; };
    }

    void cleanup() {
        m_coordinator.reset();
        m_service.reset();
    }

    void systemModeRecordsEveryPlayingProcess() {
        TestPlayer first({QStringLiteral("default,tone,440,0.3,0,forever")});
        TestPlayer second({QStringLiteral("default,tone,1320,0.3,0,forever")});
        QVERIFY(first.waitPlaying(0) && second.waitPlaying(0));

        QVERIFY(start(configuration(RecordingMode::system, false)));
        QTest::qWait(1500);
        const auto record = stop();
        QVERIFY2(record, qPrintable(m_coordinator->error().value_or(QString())));
        QCOMPARE(record->files().size(), 1);

        const auto merged = readWav(record->files().front().toLocalFile());
        const auto middle = slice(merged, 0.3, 1.3);
        QVERIFY2(test::amplitudeOf(middle, 440) > 0.2, "the first process is missing");
        QVERIFY2(test::amplitudeOf(middle, 1320) > 0.2, "the second process is missing");
    }

    void applicationModeRecordsOnlyTheChosenProcess() {
        // The chosen process plays one stream at once and opens a second one after the start.
        TestPlayer chosen({QStringLiteral("default,tone,440,0.3,0,forever"),
                           QStringLiteral("default,tone,2200,0.3,1.2,forever")},
                          QStringLiteral("Chosen Player"));
        TestPlayer other({QStringLiteral("default,tone,1320,0.3,0,forever")});
        QVERIFY(chosen.waitPlaying(0) && other.waitPlaying(0));

        auto c = configuration(RecordingMode::application, false);
        c.applicationPID = chosen.pid();
        QVERIFY(start(c));
        QVERIFY(chosen.waitPlaying(1));
        QTest::qWait(1500);
        const auto record = stop();
        QVERIFY2(record, qPrintable(m_coordinator->error().value_or(QString())));

        const auto recorded = readTrack(track("system.caf"));
        const auto early = slice(recorded, 0.2, 1.0);
        const double chosenLevel = test::amplitudeOf(early, 440);
        QVERIFY2(chosenLevel > 0.2, qPrintable(QString::number(chosenLevel)));
        const double otherLevel = test::amplitudeOf(early, 1320);
        QVERIFY2(decibels(chosenLevel / otherLevel) >= 40.0,
                 qPrintable(QStringLiteral("other process only %1 dB down")
                                .arg(decibels(chosenLevel / otherLevel))));
        const auto late = slice(recorded, seconds(recorded) - 0.8, seconds(recorded) - 0.1);
        QVERIFY2(test::amplitudeOf(late, 2200) > 0.2,
                 "the stream opened after the start is missing");
    }

    void microphoneModeRecordsTheMicrophone() {
        TestPlayer speaker({QStringLiteral("kivo_test_mic_feed,tone,1000,0.4,0,forever")});
        QVERIFY(speaker.waitPlaying(0));
        QVERIFY(start(configuration(RecordingMode::microphone, false)));
        QTest::qWait(1000);
        const auto record = stop();
        QVERIFY2(record, qPrintable(m_coordinator->error().value_or(QString())));
        QVERIFY(!QFileInfo::exists(track("system.caf")));
        const auto recorded = readTrack(track("microphone.caf"));
        QVERIFY(test::amplitudeOf(slice(recorded, 0.2, 0.9), 1000) > 0.3);
    }

    void separateTracksHoldTheirOwnSource() {
        TestPlayer output({QStringLiteral("default,tone,440,0.3,0,forever")});
        TestPlayer speaker({QStringLiteral("kivo_test_mic_feed,tone,1000,0.3,0,forever")});
        QVERIFY(output.waitPlaying(0) && speaker.waitPlaying(0));

        auto c = configuration(RecordingMode::system, true);
        c.saveSeparateTracks = true;
        QVERIFY(start(c));
        QTest::qWait(1200);
        const auto record = stop();
        QVERIFY2(record, qPrintable(m_coordinator->error().value_or(QString())));
        QCOMPARE(record->files().size(), 3);

        const auto merged = slice(readWav(record->files()[0].toLocalFile()), 0.2, 1.0);
        const auto system = slice(readWav(record->files()[1].toLocalFile()), 0.2, 1.0);
        const auto microphone = slice(readWav(record->files()[2].toLocalFile()), 0.2, 1.0);
        QVERIFY(test::amplitudeOf(merged, 440) > 0.2 && test::amplitudeOf(merged, 1000) > 0.2);
        QVERIFY(test::amplitudeOf(system, 440) > 0.2);
        QVERIFY(decibels(test::amplitudeOf(system, 440) / test::amplitudeOf(system, 1000)) > 40.0);
        QVERIFY(test::amplitudeOf(microphone, 1000) > 0.2);
        QVERIFY(decibels(test::amplitudeOf(microphone, 1000) / test::amplitudeOf(microphone, 440)) >
                40.0);
    }

    void gainsScaleTheRecordedLevel() {
        TestPlayer output({QStringLiteral("default,tone,440,0.5,0,forever")});
        QVERIFY(output.waitPlaying(0));
        QVERIFY(start(configuration(RecordingMode::system, false)));
        QTest::qWait(1000);
        m_coordinator->setGains(0.25F, 1.0F);
        QTest::qWait(1000);
        const auto record = stop();
        QVERIFY(record);

        const auto recorded = readTrack(track("system.caf"));
        const double full = test::amplitudeOf(slice(recorded, 0.2, 0.8), 440);
        const double quarter = test::amplitudeOf(slice(recorded, 1.3, 1.9), 440);
        QVERIFY2(std::abs(full - 0.5) < 0.03, qPrintable(QString::number(full)));
        QVERIFY2(std::abs(quarter / full - 0.25) < 0.02,
                 qPrintable(QString::number(quarter / full)));
    }

    void pauseLeavesThePausedStretchOut() {
        TestPlayer output({QStringLiteral("default,tone,440,0.3,0,forever")});
        QVERIFY(output.waitPlaying(0));
        QVERIFY(start(configuration(RecordingMode::system, false)));
        QElapsedTimer running;
        running.start();
        QTest::qWait(1000);
        m_coordinator->togglePause();
        qint64 recordedMs = running.elapsed();
        {
            // Played only while the recording is paused.
            TestPlayer duringPause({QStringLiteral("default,tone,1320,0.3,0,0.6")});
            QVERIFY(duringPause.waitDone(0));
        }
        m_coordinator->togglePause();
        running.restart();
        QTest::qWait(1000);
        recordedMs += running.elapsed();
        const auto record = stop();
        QVERIFY(record);

        const auto merged = readWav(record->files().front().toLocalFile());
        QCOMPARE(static_cast<double>(merged.size()), std::round(record->duration() * kRate));
        QVERIFY2(std::abs(record->duration() - static_cast<double>(recordedMs) / 1000.0) < 0.05,
                 qPrintable(QStringLiteral("%1 s recorded, %2 s long")
                                .arg(static_cast<double>(recordedMs) / 1000.0)
                                .arg(record->duration())));
        // The pause joins the tone with a jump in phase, so each side is measured on its own.
        const double total = seconds(merged);
        QVERIFY(test::amplitudeOf(slice(merged, 0.2, 0.8), 440) > 0.2);
        QVERIFY(test::amplitudeOf(slice(merged, total - 0.8, total - 0.2), 440) > 0.2);
        QVERIFY2(test::amplitudeOf(merged, 1320) < 0.003,
                 "audio of the paused stretch was recorded");
    }

    void systemAndMicrophoneTracksLineUp() {
        // A microphone that hears exactly what the default output plays.
        const test::RemappedSource loop(QStringLiteral("kivo_test_loop"),
                                        QStringLiteral("kivo_test_output.monitor"));
        const std::optional<quint32> loopSource = loop.index();
        QVERIFY(loopSource);

        auto c = configuration(RecordingMode::system, true);
        c.microphoneDeviceID = loopSource;
        QVERIFY(start(c));
        TestPlayer clicks({QStringLiteral("default,clicks,3000,0.8,0,1.6")});
        QVERIFY(clicks.waitDone(0));
        const auto record = stop();
        QVERIFY(record);

        const auto system = readTrack(track("system.caf"));
        const auto microphone = readTrack(track("microphone.caf"));
        int compared = 0;
        qint64 from = 0;
        while (const auto click = firstAbove(system, 0.3F, from)) {
            const auto heard = firstAbove(microphone, 0.3F, *click - 4800);
            QVERIFY2(heard, "a click is missing from the microphone track");
            QVERIFY2(std::abs(*heard - *click) <= 240,
                     qPrintable(QStringLiteral("click %1 lies %2 ms apart")
                                    .arg(compared)
                                    .arg(static_cast<double>(*heard - *click) / 48.0)));
            ++compared;
            from = *click + 12000;
        }
        QVERIFY2(compared >= 2, qPrintable(QString::number(compared)));
    }

    void aProcessThatHasEndedCannotBeRecorded() {
        qint32 pid = 0;
        {
            TestPlayer gone({QStringLiteral("default,tone,440,0.3,0,0.1")});
            QVERIFY(gone.waitDone(0));
            pid = gone.pid();
        }
        auto c = configuration(RecordingMode::application, false);
        c.applicationPID = pid;
        QVERIFY(!start(c));
        QCOMPARE(m_coordinator->error(),
                 std::optional<QString>(QStringLiteral("選定 App 已結束，請重新選擇。")));
        QVERIFY(!QFileInfo::exists(captures()) || QDir(captures()).isEmpty());
    }

    void withoutASoundServerTheStartFailsWithTheServerMessage_data() {
        QTest::addColumn<bool>("microphone");
        QTest::addColumn<QString>("message");
        QTest::newRow("with microphone")
            << true
            << QStringLiteral("無法使用麥克風：無法連線到音訊伺服器。請確認 PipeWire 或 PulseAudio "
                              "正在執行。\n");
        QTest::newRow("system only")
            << false
            << QStringLiteral("無法擷取系統音訊。請確認 PipeWire 或 PulseAudio 正在執行。\n");
    }
    void withoutASoundServerTheStartFailsWithTheServerMessage() {
        QFETCH(bool, microphone);
        QFETCH(QString, message);
        bool started = false;
        {
            const test::ScopedPulseServer nowhere("unix:/nonexistent/kivo/native");
            started = start(configuration(RecordingMode::system, microphone));
        }
        QVERIFY(!started);
        QVERIFY2(m_coordinator->error().value_or(QString()).startsWith(message),
                 qPrintable(m_coordinator->error().value_or(QString())));
        QVERIFY(!QFileInfo::exists(captures()) || QDir(captures()).isEmpty());
    }

    void aServerThatStopsDuringTheRecordingIsReportedAndWhatWasRecordedIsSaved() {
        test::PrivateServer server;
        QVERIFY(server.started());
        {
            const test::ScopedPulseServer privateServer(server.address());
            QVERIFY(start(configuration(RecordingMode::system, true)));
        }
        QTest::qWait(600);
        server.stop();
        QVERIFY(test::waitUntil([&] { return m_unexpectedStops > 0; }, 5000));
        QVERIFY2(m_coordinator->error().value_or(QString()).startsWith(
                     QStringLiteral("系統音訊來源中斷。\n")),
                 qPrintable(m_coordinator->error().value_or(QString())));
        const auto record = stop();
        QVERIFY2(record, qPrintable(m_coordinator->error().value_or(QString())));
        QVERIFY(record->duration() > 0.5);
        QVERIFY(readWav(record->files().front().toLocalFile()).size() > 24000);
    }

    void aRemovedMicrophoneStopsAndSavesTheRecording() {
        test::RemappedSource microphone(QStringLiteral("kivo_test_usb_mic"),
                                        QStringLiteral("kivo_test_mic_feed.monitor"));
        const std::optional<quint32> source = microphone.index();
        QVERIFY(source);
        TestPlayer speaker({QStringLiteral("kivo_test_mic_feed,tone,1000,0.4,0,forever")});
        QVERIFY(speaker.waitPlaying(0));

        auto c = configuration(RecordingMode::microphone, false);
        c.microphoneDeviceID = source;
        QVERIFY(start(c));
        QTest::qWait(800);
        microphone.unload();
        QVERIFY(test::waitUntil([&] { return m_unexpectedStops > 0; }, 5000));
        QCOMPARE(m_coordinator->error(), std::optional<QString>(QStringLiteral(
                                             "麥克風裝置或音訊格式已改變，將保存目前錄音。")));
        const auto record = stop();
        QVERIFY2(record, qPrintable(m_coordinator->error().value_or(QString())));
        QVERIFY(record->duration() > 0.5);
        QVERIFY(QFileInfo::exists(record->files().front().toLocalFile()));
    }
};

KIVO_TEST_CLASS(AudioCaptureServiceTest)
#include "AudioCaptureServiceTest.moc"
