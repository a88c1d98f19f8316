#include "application/RecordingCoordinator.h"
#include "domain/KivoError.h"

#include "FakeRecordingBackend.h"
#include "TestMain.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <ctime>
#include <memory>

using namespace kivo;
using kivo::test::FakeRecordingBackend;
using Outcome = FakeRecordingBackend::Outcome;

Q_DECLARE_METATYPE(kivo::RecordingMode)
Q_DECLARE_METATYPE(kivo::test::FakeRecordingBackend::Outcome)

namespace {

RecordingConfiguration validConfiguration() {
    return RecordingConfiguration(QUrl::fromLocalFile(QStringLiteral("/tmp/Kivo/")));
}

// Counts how often a continuation ran and what it was given.
struct StopResult {
    int calls = 0;
    std::optional<RecordingRecord> record;
};

} // namespace

class RecordingCoordinatorTest : public QObject {
    Q_OBJECT

private:
    double m_clock = 0;
    std::shared_ptr<FakeRecordingBackend> m_backend;
    std::unique_ptr<RecordingCoordinator> m_coordinator;

    // Brings a fresh coordinator to `state` at clock 100 and forgets the backend calls made on
    // the way. A recording reaches `saving` through a held stop.
    void bringTo(RecordingState state) {
        m_clock = 100;
        if (state == RecordingState::idle) {
            return;
        }
        m_backend->startOutcome =
            state == RecordingState::starting ? Outcome::hold : Outcome::succeed;
        m_coordinator->start(validConfiguration());
        if (state == RecordingState::paused) {
            m_coordinator->togglePause();
        }
        if (state == RecordingState::saving) {
            m_backend->stopOutcome = Outcome::hold;
            m_coordinator->stop();
        }
        QCOMPARE(m_coordinator->state(), state);
        m_backend->calls.clear();
        m_backend->startOutcome = Outcome::succeed;
        m_backend->stopOutcome = Outcome::succeed;
    }

    static void addStateColumn() { QTest::addColumn<RecordingState>("state"); }
    static void addRowsForStates(std::initializer_list<RecordingState> states) {
        for (const auto state : states) {
            QTest::newRow(stateName(state)) << state;
        }
    }
    static const char* stateName(RecordingState state) {
        switch (state) {
        case RecordingState::idle:
            return "idle";
        case RecordingState::starting:
            return "starting";
        case RecordingState::recording:
            return "recording";
        case RecordingState::paused:
            return "paused";
        case RecordingState::saving:
            return "saving";
        }
        return "?";
    }

private slots:
    void init() {
        m_clock = 0;
        m_backend = std::make_shared<FakeRecordingBackend>();
        m_coordinator =
            std::make_unique<RecordingCoordinator>(m_backend, [this] { return m_clock; });
    }
    void cleanup() {
        m_coordinator.reset();
        m_backend.reset();
    }

    void beginsIdleWithNothingToShow() {
        QCOMPARE(m_coordinator->state(), RecordingState::idle);
        QCOMPARE(m_coordinator->levels(), AudioLevels{});
        QCOMPARE(m_coordinator->elapsed(), 0.0);
        QCOMPARE(m_coordinator->error(), std::nullopt);
        QVERIFY(m_backend->calls.isEmpty());
    }

    void constructionReplacesTheBackendsCallbacks() {
        auto backend = std::make_shared<FakeRecordingBackend>();
        int oldCallbackCalls = 0;
        backend->onLevels = [&](AudioLevels) { ++oldCallbackCalls; };
        backend->onFailure = [&](QString) { ++oldCallbackCalls; };
        RecordingCoordinator coordinator(backend, [] { return 0.0; });
        backend->reportLevels({0.5F, 0.5F});
        backend->reportFailure(QStringLiteral("壞了"));
        QCOMPARE(oldCallbackCalls, 0);
        QCOMPARE(coordinator.error(), QStringLiteral("壞了"));
    }

    void defaultClockIsMonotonicSeconds() {
        const double first = monotonicSeconds();
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double reference = double(now.tv_sec) + double(now.tv_nsec) / 1e9;
        QVERIFY(std::abs(reference - first) < 1.0);
        QVERIFY(monotonicSeconds() >= first);
    }

    // idle -> starting -> recording, with the backend answering inside the call.
    void startRecordsWhenTheBackendStartsAtOnce() {
        m_coordinator->setError(QStringLiteral("舊訊息"));
        QSignalSpy states(m_coordinator.get(), &RecordingCoordinator::stateChanged);
        int done = 0;
        m_coordinator->start(validConfiguration(), [&] { ++done; });
        QCOMPARE(done, 1);
        QCOMPARE(m_coordinator->state(), RecordingState::recording);
        QCOMPARE(m_coordinator->error(), std::nullopt);
        QCOMPARE(states.size(), 2);
        QCOMPARE(states.at(0).at(0).value<RecordingState>(), RecordingState::starting);
        QCOMPARE(states.at(1).at(0).value<RecordingState>(), RecordingState::recording);
        QCOMPARE(m_backend->calls, QStringList{QStringLiteral("start")});
    }

    void backendGetsTheValidatedConfiguration() {
        auto configuration = validConfiguration();
        configuration.name = QStringLiteral("  訪談  ");
        configuration.systemGain = 1.5F;
        configuration.includesMicrophone = false;
        configuration.saveSeparateTracks = true;
        m_coordinator->start(configuration);
        QVERIFY(m_backend->startedWith.has_value());
        QCOMPARE(*m_backend->startedWith, configuration.validated());
        QCOMPARE(m_backend->startedWith->name, QStringLiteral("訪談"));
    }

    // The main loop keeps running while the backend starts; nothing blocks or spins.
    void startWaitsForTheBackendWithoutBlocking() {
        m_backend->startOutcome = Outcome::hold;
        int done = 0;
        m_coordinator->start(validConfiguration(), [&] { ++done; });
        QCOMPARE(m_coordinator->state(), RecordingState::starting);
        QCOMPARE(done, 0);

        bool otherWorkRan = false;
        QTimer::singleShot(0, this, [&] { otherWorkRan = true; });
        QTRY_VERIFY(otherWorkRan);
        QCOMPARE(m_coordinator->state(), RecordingState::starting);

        m_backend->completeStart();
        QCOMPARE(m_coordinator->state(), RecordingState::recording);
        QCOMPARE(done, 1);
    }

    void startCompletedThroughTheEventLoop() {
        m_backend->completeLater = true;
        int done = 0;
        m_coordinator->start(validConfiguration(), [&] { ++done; });
        QCOMPARE(m_coordinator->state(), RecordingState::starting);
        QTRY_COMPARE(m_coordinator->state(), RecordingState::recording);
        QCOMPARE(done, 1);
    }

    void startClearsTheErrorAndTheElapsedTime() {
        bringTo(RecordingState::recording);
        m_clock = 120;
        m_coordinator->stop();
        QCOMPARE(m_coordinator->elapsed(), 20.0);
        m_coordinator->setError(QStringLiteral("上次的錯誤"));

        m_backend->startOutcome = Outcome::hold;
        m_coordinator->start(validConfiguration());
        QCOMPARE(m_coordinator->state(), RecordingState::starting);
        QCOMPARE(m_coordinator->elapsed(), 0.0);
        QCOMPARE(m_coordinator->error(), std::nullopt);
    }

    void startIsIgnoredUnlessIdle_data() {
        addStateColumn();
        addRowsForStates({RecordingState::starting, RecordingState::recording,
                          RecordingState::paused, RecordingState::saving});
    }
    void startIsIgnoredUnlessIdle() {
        QFETCH(RecordingState, state);
        bringTo(state);
        m_coordinator->setError(QStringLiteral("保留"));
        QSignalSpy changes(m_coordinator.get(), &RecordingCoordinator::changed);
        int done = 0;
        m_coordinator->start(validConfiguration(), [&] { ++done; });
        QCOMPARE(done, 1);
        QCOMPARE(m_coordinator->state(), state);
        QCOMPARE(m_coordinator->error(), QStringLiteral("保留"));
        QVERIFY(m_backend->calls.isEmpty());
        QCOMPARE(changes.size(), 0);
    }

    void invalidConfigurationStaysIdleWithTheMessage_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QUrl>("folder");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<QString>("message");
        const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/tmp/Kivo/"));
        QTest::newRow("empty name")
            << QString() << folder << RecordingMode::system << QStringLiteral("請輸入錄音名稱。");
        QTest::newRow("web folder")
            << QStringLiteral("a") << QUrl(QStringLiteral("https://x/")) << RecordingMode::system
            << QStringLiteral("請選擇本機保存資料夾。");
        QTest::newRow("no application")
            << QStringLiteral("a") << folder << RecordingMode::application
            << QStringLiteral("請選擇要錄製的 App。");
    }
    void invalidConfigurationStaysIdleWithTheMessage() {
        QFETCH(QString, name);
        QFETCH(QUrl, folder);
        QFETCH(RecordingMode, mode);
        RecordingConfiguration configuration(folder);
        configuration.name = name;
        configuration.mode = mode;
        QSignalSpy states(m_coordinator.get(), &RecordingCoordinator::stateChanged);
        QSignalSpy errors(m_coordinator.get(), &RecordingCoordinator::errorChanged);
        int done = 0;
        m_coordinator->start(configuration, [&] { ++done; });
        QCOMPARE(done, 1);
        QCOMPARE(m_coordinator->state(), RecordingState::idle);
        QTEST(m_coordinator->error().value_or(QString()), "message");
        QVERIFY(m_backend->calls.isEmpty());
        QCOMPARE(states.size(), 0);
        QCOMPARE(errors.size(), 1);
    }

    void failedStartReturnsToIdleWithTheMessage_data() {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<bool>("later");
        QTest::newRow("fails at once") << Outcome::fail << false;
        QTest::newRow("fails through the event loop") << Outcome::fail << true;
        QTest::newRow("fails after being held") << Outcome::hold << false;
    }
    void failedStartReturnsToIdleWithTheMessage() {
        QFETCH(Outcome, outcome);
        QFETCH(bool, later);
        // A previous recording leaves its timeline behind; the failed start must not run it.
        bringTo(RecordingState::recording);
        m_clock = 130;
        m_coordinator->stop();
        QCOMPARE(m_coordinator->elapsed(), 30.0);

        m_backend->startOutcome = outcome;
        m_backend->completeLater = later;
        m_backend->startFailure = QStringLiteral("無法擷取系統音訊。\n連線被拒絕");
        int done = 0;
        m_coordinator->start(validConfiguration(), [&] { ++done; });
        if (outcome == Outcome::hold) {
            m_backend->failStart(m_backend->startFailure);
        }
        QTRY_COMPARE(m_coordinator->state(), RecordingState::idle);
        QCOMPARE(done, 1);
        QCOMPARE(m_coordinator->error(), QStringLiteral("無法擷取系統音訊。\n連線被拒絕"));
        QCOMPARE(m_coordinator->elapsed(), 0.0);

        // No timer runs: time passes and nothing moves.
        m_clock = 500;
        QTest::qWait(450);
        QCOMPARE(m_coordinator->elapsed(), 0.0);
        m_coordinator->togglePause();
        QCOMPARE(m_coordinator->elapsed(), 0.0);
        QCOMPARE(m_coordinator->state(), RecordingState::idle);
    }

    void backendThatThrowsFromStartCountsAsAFailedStart() {
        m_backend->throwInsteadOfCompleting = true;
        int done = 0;
        m_coordinator->start(validConfiguration(), [&] { ++done; });
        QCOMPARE(done, 1);
        QCOMPARE(m_coordinator->state(), RecordingState::idle);
        QCOMPARE(m_coordinator->error(), m_backend->startFailure);
    }

    // The timeline starts when the backend has started, not when it was asked to.
    void elapsedCountsFromTheMomentCaptureRuns() {
        m_clock = 100;
        m_backend->startOutcome = Outcome::hold;
        m_coordinator->start(validConfiguration());
        m_clock = 105;
        m_backend->completeStart();
        m_clock = 110;
        m_coordinator->refreshElapsed();
        QCOMPARE(m_coordinator->elapsed(), 5.0);
    }

    void elapsedIsRefreshedFiveTimesASecondWhileOpen() {
        bringTo(RecordingState::recording);
        m_clock = 103;
        QTRY_COMPARE_WITH_TIMEOUT(m_coordinator->elapsed(), 3.0, 1000);

        // Count the timer's refreshes over one second with a clock that moves on every reading.
        m_coordinator = std::make_unique<RecordingCoordinator>(m_backend, [this] {
            m_clock += 1;
            return m_clock;
        });
        QSignalSpy ticks(m_coordinator.get(), &RecordingCoordinator::elapsedChanged);
        m_coordinator->start(validConfiguration());
        QTest::qWait(1000);
        QVERIFY2(ticks.size() >= 3 && ticks.size() <= 6, qPrintable(QString::number(ticks.size())));
    }

    void timerKeepsRunningWhilePausedWithoutMovingTheTime() {
        bringTo(RecordingState::recording);
        m_clock = 110;
        m_coordinator->togglePause();
        QCOMPARE(m_coordinator->elapsed(), 10.0);
        m_clock = 200;
        QTest::qWait(450);
        QCOMPARE(m_coordinator->elapsed(), 10.0);
        m_coordinator->togglePause();
        m_clock = 205;
        QTRY_COMPARE_WITH_TIMEOUT(m_coordinator->elapsed(), 15.0, 1000);
    }

    // Start at 100, pause at 110, resume at 130, stop at 140: twenty seconds.
    void pausedStretchIsLeftOutOfTheLength() {
        bringTo(RecordingState::recording);
        QSignalSpy states(m_coordinator.get(), &RecordingCoordinator::stateChanged);
        m_clock = 110;
        m_coordinator->togglePause();
        QCOMPARE(m_coordinator->state(), RecordingState::paused);
        QCOMPARE(m_coordinator->elapsed(), 10.0);
        m_clock = 130;
        m_coordinator->togglePause();
        QCOMPARE(m_coordinator->state(), RecordingState::recording);
        QCOMPARE(m_coordinator->elapsed(), 10.0);
        m_clock = 140;
        StopResult result;
        m_coordinator->stop([&](std::optional<RecordingRecord> record) {
            ++result.calls;
            result.record = std::move(record);
        });
        QCOMPARE(m_coordinator->elapsed(), 20.0);
        QCOMPARE(m_coordinator->state(), RecordingState::idle);
        QCOMPARE(result.calls, 1);
        QCOMPARE(result.record, m_backend->record);
        QCOMPARE(m_backend->calls, (QStringList{QStringLiteral("pause"), QStringLiteral("resume"),
                                                QStringLiteral("stop")}));
        QCOMPARE(states.size(), 4); // paused, recording, saving, idle
    }

    // The clock never counts time the backend did not record: the pause moment is read before
    // the backend stops accepting audio, the resume moment after it accepts audio again.
    void pauseAndResumeMomentsFrameWhatTheBackendRecorded() {
        bringTo(RecordingState::recording);
        m_backend->whilePausing = [this] { m_clock += 1; };
        m_backend->whileResuming = [this] { m_clock += 1; };
        m_clock = 110;
        m_coordinator->togglePause(); // pause moment 110; backend done at 111
        m_clock = 130;
        m_coordinator->togglePause(); // backend accepts again at 131; resume moment 131
        m_clock = 141;
        m_coordinator->refreshElapsed();
        QCOMPARE(m_coordinator->elapsed(), 20.0);
    }

    void togglePauseIsIgnoredOutsideAnOpenRecording_data() {
        addStateColumn();
        addRowsForStates({RecordingState::idle, RecordingState::starting, RecordingState::saving});
    }
    void togglePauseIsIgnoredOutsideAnOpenRecording() {
        QFETCH(RecordingState, state);
        bringTo(state);
        const double shown = m_coordinator->elapsed();
        m_clock = 500;
        QSignalSpy changes(m_coordinator.get(), &RecordingCoordinator::changed);
        m_coordinator->togglePause();
        QCOMPARE(m_coordinator->state(), state);
        QVERIFY(m_backend->calls.isEmpty());
        QCOMPARE(m_coordinator->elapsed(), shown);
        QCOMPARE(changes.size(), 0);
    }

    void lengthStaysFrozenAfterStopUntilTheNextStart() {
        bringTo(RecordingState::recording);
        m_clock = 125;
        m_backend->stopOutcome = Outcome::hold;
        m_coordinator->stop();
        QCOMPARE(m_coordinator->state(), RecordingState::saving);
        QCOMPARE(m_coordinator->elapsed(), 25.0);
        m_clock = 400;
        QTest::qWait(450);
        m_coordinator->refreshElapsed();
        m_coordinator->togglePause();
        QCOMPARE(m_coordinator->elapsed(), 25.0);
        m_backend->completeStop();
        m_clock = 900;
        QTest::qWait(450);
        m_coordinator->refreshElapsed();
        m_coordinator->togglePause();
        QCOMPARE(m_coordinator->state(), RecordingState::idle);
        QCOMPARE(m_coordinator->elapsed(), 25.0);
    }

    void stopReturnsTheRecord_data() {
        QTest::addColumn<RecordingState>("from");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<bool>("later");
        QTest::newRow("recording, at once")
            << RecordingState::recording << Outcome::succeed << false;
        QTest::newRow("paused, at once") << RecordingState::paused << Outcome::succeed << false;
        QTest::newRow("recording, through the event loop")
            << RecordingState::recording << Outcome::succeed << true;
        QTest::newRow("recording, held") << RecordingState::recording << Outcome::hold << false;
    }
    void stopReturnsTheRecord() {
        QFETCH(RecordingState, from);
        QFETCH(Outcome, outcome);
        QFETCH(bool, later);
        bringTo(from);
        m_coordinator->setError(QStringLiteral("先前的錯誤"));
        if (from == RecordingState::recording) {
            m_backend->reportLevels({0.5F, 0.25F});
        }
        m_backend->stopOutcome = outcome;
        m_backend->completeLater = later;
        StopResult result;
        m_coordinator->stop([&](std::optional<RecordingRecord> record) {
            ++result.calls;
            result.record = std::move(record);
        });
        if (outcome == Outcome::hold || later) {
            QCOMPARE(m_coordinator->state(), RecordingState::saving);
            QCOMPARE(result.calls, 0);
        }
        if (outcome == Outcome::hold) {
            m_backend->completeStop();
        }
        QTRY_COMPARE(m_coordinator->state(), RecordingState::idle);
        QCOMPARE(result.calls, 1);
        QCOMPARE(result.record, m_backend->record);
        QCOMPARE(m_coordinator->levels(), AudioLevels{});
        // Only a new start clears an error.
        QCOMPARE(m_coordinator->error(), QStringLiteral("先前的錯誤"));
    }

    void failedStopReturnsNothingAndKeepsTheMessage_data() {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<bool>("throws");
        QTest::newRow("fails at once") << Outcome::fail << false;
        QTest::newRow("fails after being held") << Outcome::hold << false;
        QTest::newRow("throws instead of completing") << Outcome::succeed << true;
    }
    void failedStopReturnsNothingAndKeepsTheMessage() {
        QFETCH(Outcome, outcome);
        QFETCH(bool, throws);
        bringTo(RecordingState::recording);
        m_backend->reportLevels({0.5F, 0.25F});
        m_backend->stopOutcome = outcome;
        m_backend->throwInsteadOfCompleting = throws;
        m_backend->stopFailure = QStringLiteral("無法保存錄音：磁碟已滿");
        StopResult result;
        result.record = m_backend->record;
        m_coordinator->stop([&](std::optional<RecordingRecord> record) {
            ++result.calls;
            result.record = std::move(record);
        });
        if (outcome == Outcome::hold) {
            m_backend->failStop(m_backend->stopFailure);
        }
        QCOMPARE(result.calls, 1);
        QCOMPARE(result.record, std::nullopt);
        QCOMPARE(m_coordinator->state(), RecordingState::idle);
        QCOMPARE(m_coordinator->error(), QStringLiteral("無法保存錄音：磁碟已滿"));
        QCOMPARE(m_coordinator->levels(), AudioLevels{});
    }

    void stopIsIgnoredUnlessARecordingIsOpen_data() {
        addStateColumn();
        addRowsForStates({RecordingState::idle, RecordingState::starting, RecordingState::saving});
    }
    void stopIsIgnoredUnlessARecordingIsOpen() {
        QFETCH(RecordingState, state);
        bringTo(state);
        m_coordinator->setError(QStringLiteral("保留"));
        StopResult result;
        result.record = m_backend->record;
        m_coordinator->stop([&](std::optional<RecordingRecord> record) {
            ++result.calls;
            result.record = std::move(record);
        });
        QCOMPARE(result.calls, 1);
        QCOMPARE(result.record, std::nullopt);
        QCOMPARE(m_coordinator->state(), state);
        QCOMPARE(m_coordinator->error(), QStringLiteral("保留"));
        QVERIFY(m_backend->calls.isEmpty());
        // A held stop still completes normally afterwards.
        if (state == RecordingState::saving) {
            m_backend->completeStop();
            QCOMPARE(m_coordinator->state(), RecordingState::idle);
        }
    }

    void levelsShowOnlyWhileRecording_data() {
        addStateColumn();
        QTest::addColumn<bool>("shown");
        QTest::newRow("idle") << RecordingState::idle << false;
        QTest::newRow("starting") << RecordingState::starting << false;
        QTest::newRow("recording") << RecordingState::recording << true;
        QTest::newRow("paused") << RecordingState::paused << false;
        QTest::newRow("saving") << RecordingState::saving << false;
    }
    void levelsShowOnlyWhileRecording() {
        QFETCH(RecordingState, state);
        QFETCH(bool, shown);
        bringTo(state);
        QSignalSpy levels(m_coordinator.get(), &RecordingCoordinator::levelsChanged);
        m_backend->reportLevels({0.5F, 0.25F});
        QCOMPARE(m_coordinator->levels(), (shown ? AudioLevels{0.5F, 0.25F} : AudioLevels{}));
        QCOMPARE(levels.size(), shown ? 1 : 0);
    }

    void metersFallToZeroOnALateReadingAndReturnAfterResuming() {
        bringTo(RecordingState::recording);
        m_backend->reportLevels({0.9F, 0.8F});
        m_coordinator->togglePause();
        m_backend->reportLevels({0.7F, 0.6F});
        QCOMPARE(m_coordinator->levels(), AudioLevels{});
        m_coordinator->togglePause();
        m_backend->reportLevels({0.3F, 0.2F});
        QCOMPARE(m_coordinator->levels(), (AudioLevels{0.3F, 0.2F}));
    }

    void failureReportSetsTheErrorAndAsksForAStopOnlyWhileOpen_data() {
        addStateColumn();
        QTest::addColumn<int>("stopRequests");
        QTest::newRow("idle") << RecordingState::idle << 0;
        QTest::newRow("starting") << RecordingState::starting << 0;
        QTest::newRow("recording") << RecordingState::recording << 1;
        QTest::newRow("paused") << RecordingState::paused << 1;
        QTest::newRow("saving") << RecordingState::saving << 0;
    }
    void failureReportSetsTheErrorAndAsksForAStopOnlyWhileOpen() {
        QFETCH(RecordingState, state);
        QFETCH(int, stopRequests);
        bringTo(state);
        int requests = 0;
        m_coordinator->onUnexpectedStop = [&] { ++requests; };
        m_backend->reportFailure(QStringLiteral("錄音中斷：音訊伺服器已關閉"));
        QCOMPARE(m_coordinator->error(), QStringLiteral("錄音中斷：音訊伺服器已關閉"));
        QCOMPARE(requests, stopRequests);
        QCOMPARE(m_coordinator->state(), state);
        QVERIFY(m_backend->calls.isEmpty());
    }

    void failureWithoutAStopHookOnlySetsTheError() {
        bringTo(RecordingState::recording);
        m_backend->reportFailure(QStringLiteral("中斷"));
        QCOMPARE(m_coordinator->error(), QStringLiteral("中斷"));
        QCOMPARE(m_coordinator->state(), RecordingState::recording);
    }

    void unexpectedStopHookCanStopAtOnce() {
        bringTo(RecordingState::recording);
        StopResult result;
        m_coordinator->onUnexpectedStop = [&] {
            m_coordinator->stop([&](std::optional<RecordingRecord> record) {
                ++result.calls;
                result.record = std::move(record);
            });
        };
        m_clock = 112;
        m_backend->reportFailure(QStringLiteral("中斷"));
        QCOMPARE(result.calls, 1);
        QCOMPARE(result.record, m_backend->record);
        QCOMPARE(m_coordinator->state(), RecordingState::idle);
        QCOMPARE(m_coordinator->error(), QStringLiteral("中斷"));
        QCOMPARE(m_coordinator->elapsed(), 12.0);
    }

    void gainsArePassedOnUnchangedInEveryState_data() {
        addStateColumn();
        addRowsForStates({RecordingState::idle, RecordingState::starting, RecordingState::recording,
                          RecordingState::paused, RecordingState::saving});
    }
    void gainsArePassedOnUnchangedInEveryState() {
        QFETCH(RecordingState, state);
        bringTo(state);
        m_coordinator->setGains(1.5F, -0.25F);
        QCOMPARE(m_backend->calls, QStringList{QStringLiteral("setGains 1.5 -0.25")});
        QCOMPARE(m_coordinator->state(), state);
    }

    void acknowledgeSavedPassesTheBackendsFailureOn() {
        m_coordinator->acknowledgeSaved();
        QCOMPARE(m_backend->calls, QStringList{QStringLiteral("acknowledgeSaved")});
        m_backend->acknowledgeFailure = QStringLiteral("無法刪除暫存錄音。");
        try {
            m_coordinator->acknowledgeSaved();
            QFAIL("no failure");
        } catch (const KivoError& error) {
            QCOMPARE(error.text(), QStringLiteral("無法刪除暫存錄音。"));
        }
        QCOMPARE(m_coordinator->error(), std::nullopt);
    }

    void everyPublishedChangeIsAnnounced() {
        QSignalSpy changes(m_coordinator.get(), &RecordingCoordinator::changed);
        QSignalSpy states(m_coordinator.get(), &RecordingCoordinator::stateChanged);
        QSignalSpy levels(m_coordinator.get(), &RecordingCoordinator::levelsChanged);
        QSignalSpy elapsed(m_coordinator.get(), &RecordingCoordinator::elapsedChanged);
        QSignalSpy errors(m_coordinator.get(), &RecordingCoordinator::errorChanged);
        m_clock = 100;
        m_coordinator->start(validConfiguration()); // starting, recording
        m_backend->reportLevels({0.5F, 0.5F});      // levels
        m_backend->reportLevels({0.5F, 0.5F});      // unchanged: nothing
        m_clock = 104;
        m_coordinator->togglePause();                 // paused, elapsed 4
        m_coordinator->togglePause();                 // recording
        m_coordinator->setError(QStringLiteral("x")); // error
        m_coordinator->setError(QStringLiteral("x")); // unchanged: nothing
        m_coordinator->stop();                        // saving, levels 0, idle
        QCOMPARE(states.size(), 6);
        QCOMPARE(levels.size(), 2);
        QCOMPARE(elapsed.size(), 1);
        QCOMPARE(elapsed.at(0).at(0).toDouble(), 4.0);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(changes.size(), states.size() + levels.size() + elapsed.size() + errors.size());
        const QList<RecordingState> expected{RecordingState::starting, RecordingState::recording,
                                             RecordingState::paused,   RecordingState::recording,
                                             RecordingState::saving,   RecordingState::idle};
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(states.at(i).at(0).value<RecordingState>(), expected.at(i));
        }
    }

    void observersOfTheStateReadTheRestCurrent() {
        m_backend->startFailure = QStringLiteral("無法啟動");
        m_backend->startOutcome = Outcome::fail;
        std::optional<QString> errorSeenWhenIdle;
        connect(m_coordinator.get(), &RecordingCoordinator::stateChanged, this,
                [&](RecordingState state) {
                    if (state == RecordingState::idle) {
                        errorSeenWhenIdle = m_coordinator->error();
                    }
                });
        m_coordinator->start(validConfiguration());
        QCOMPARE(errorSeenWhenIdle, QStringLiteral("無法啟動"));
    }

    void completionsAfterTheCoordinatorIsGoneDoNothing() {
        m_backend->startOutcome = Outcome::hold;
        int done = 0;
        m_coordinator->start(validConfiguration(), [&] { ++done; });
        m_coordinator.reset();
        m_backend->completeStart();
        m_backend->reportLevels({1, 1});
        m_backend->reportFailure(QStringLiteral("中斷"));
        QCOMPARE(done, 0);
    }

    void heldStopAfterTheCoordinatorIsGoneDoesNothing() {
        bringTo(RecordingState::saving);
        m_coordinator.reset();
        m_backend->completeStop();
        QVERIFY(!m_backend->hasPendingStop());
    }

    void aNewRecordingCanFollowASavedOne() {
        bringTo(RecordingState::recording);
        m_coordinator->stop();
        m_clock = 300;
        m_coordinator->start(validConfiguration());
        QCOMPARE(m_coordinator->state(), RecordingState::recording);
        m_clock = 307;
        m_coordinator->refreshElapsed();
        QCOMPARE(m_coordinator->elapsed(), 7.0);
    }
};

KIVO_TEST_CLASS(RecordingCoordinatorTest)
#include "RecordingCoordinatorTest.moc"
