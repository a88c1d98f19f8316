#include "application/RecordingCoordinator.h"
#include "domain/KivoError.h"

#include "FakeRecordingBackend.h"
#include "TestMain.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace kivo;
using namespace Qt::StringLiterals;
using enum kivo::RecordingState;
using kivo::test::FakeRecordingBackend;
using Outcome = FakeRecordingBackend::Outcome;

Q_DECLARE_METATYPE(kivo::test::FakeRecordingBackend::Outcome)

namespace {

RecordingConfiguration validConfiguration() {
    return RecordingConfiguration(QUrl::fromLocalFile(u"/tmp/Kivo/"_s));
}

} // namespace

class RecordingCoordinatorTest : public QObject {
    Q_OBJECT

private:
    double m_clock = 0;
    std::shared_ptr<FakeRecordingBackend> m_backend;
    std::unique_ptr<RecordingCoordinator> m_coordinator;
    int m_startsDone = 0; // runs of start()'s and stop()'s `done`
    int m_stopsDone = 0;
    std::optional<RecordingRecord> m_stopped; // what stop() returned; a record until then

    void start(const RecordingConfiguration& configuration = validConfiguration()) {
        m_coordinator->start(configuration, [this] { ++m_startsDone; });
    }
    void stop() {
        m_stopped = m_backend->record;
        m_coordinator->stop([this](std::optional<RecordingRecord> record) {
            ++m_stopsDone;
            m_stopped = std::move(record);
        });
    }
    void completeStart(bool ok = true) {
        m_backend->heldStart(ok ? Result<>::success()
                                : Result<>::failure(KivoError::message(m_backend->startFailure)));
    }
    void completeStop(bool ok = true) {
        m_backend->heldStop(
            ok ? Result<RecordingRecord>::success(m_backend->record)
               : Result<RecordingRecord>::failure(KivoError::message(m_backend->stopFailure)));
    }
    // Brings the coordinator to `state` at clock 100 and forgets the backend calls made on the
    // way. `starting` holds the start; `saving` holds the stop.
    void bringTo(RecordingState state) {
        m_clock = 100;
        if (state != idle) {
            m_backend->startOutcome = state == starting ? Outcome::hold : Outcome::succeed;
            m_backend->stopOutcome = Outcome::hold;
            m_coordinator->start(validConfiguration());
            if (state == paused) {
                m_coordinator->togglePause();
            } else if (state == saving) {
                m_coordinator->stop();
            }
        }
        QCOMPARE(m_coordinator->state(), state);
        m_backend->calls.clear();
        m_backend->startOutcome = m_backend->stopOutcome = Outcome::succeed;
    }

private slots:
    void init() {
        m_clock = 0;
        m_startsDone = m_stopsDone = 0;
        m_backend = std::make_shared<FakeRecordingBackend>();
        m_coordinator =
            std::make_unique<RecordingCoordinator>(m_backend, [this] { return m_clock; });
    }

    // The backend gets the validated configuration; the main loop keeps running while it
    // starts; the elapsed time counts from the moment capture runs, not from the request.
    void startRecordsOnceTheBackendHasStarted_data() {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<double>("elapsedAt110");
        QTest::newRow("at once") << Outcome::succeed << 10.0;
        QTest::newRow("held") << Outcome::hold << 5.0;
    }
    void startRecordsOnceTheBackendHasStarted() {
        QFETCH(Outcome, outcome);
        m_coordinator->setError(u"舊訊息"_s);
        m_backend->startOutcome = outcome;
        m_clock = 100;
        auto configuration = validConfiguration();
        configuration.name = u"  訪談  "_s;
        start(configuration);
        QCOMPARE(m_backend->startedWith, configuration.validated());
        QCOMPARE(m_coordinator->error(), std::nullopt);
        m_clock = 105;
        if (outcome == Outcome::hold) {
            QCOMPARE(m_coordinator->state(), starting);
            QCOMPARE(m_startsDone, 0);
            bool otherWorkRan = false;
            QTimer::singleShot(0, this, [&] { otherWorkRan = true; });
            QTRY_VERIFY(otherWorkRan);
            completeStart();
        }
        QTRY_COMPARE(m_coordinator->state(), recording);
        QCOMPARE(m_startsDone, 1);
        m_clock = 110;
        m_coordinator->refreshElapsed();
        QTEST(m_coordinator->elapsed(), "elapsedAt110");
    }

    // An invalid configuration never reaches the backend and changes nothing else; a failed
    // start returns to idle with the message, already current when idle is announced, and
    // leaves no time behind.
    void failedStartReturnsToIdleWithTheMessage_data() {
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("invalid configuration") << Outcome::succeed;
        QTest::newRow("fails at once") << Outcome::fail;
        QTest::newRow("fails after being held") << Outcome::hold;
        QTest::newRow("throws instead of completing") << Outcome::throwFromCall;
    }
    void failedStartReturnsToIdleWithTheMessage() {
        QFETCH(Outcome, outcome);
        bringTo(recording);
        m_clock = 130;
        m_coordinator->stop();
        QCOMPARE(m_coordinator->elapsed(), 30.0);
        std::optional<QString> errorSeenWhenIdle;
        connect(m_coordinator.get(), &RecordingCoordinator::stateChanged, this,
                [&](RecordingState state) {
                    errorSeenWhenIdle = state == idle ? m_coordinator->error() : std::nullopt;
                });
        auto configuration = validConfiguration();
        if (outcome == Outcome::succeed) {
            configuration.name = u" "_s;
            m_backend->startFailure = u"請輸入錄音名稱。"_s;
        } else {
            m_backend->startFailure = u"無法擷取系統音訊。\n連線被拒絕"_s;
        }
        m_backend->startOutcome = outcome;
        start(configuration);
        if (outcome == Outcome::hold) {
            completeStart(false);
        }
        QTRY_COMPARE(m_startsDone, 1);
        QCOMPARE(m_coordinator->state(), idle);
        QCOMPARE(m_coordinator->error(), m_backend->startFailure);
        QCOMPARE(m_coordinator->elapsed(), outcome == Outcome::succeed ? 30.0 : 0.0);
        QCOMPARE(m_backend->calls.size(), outcome == Outcome::succeed ? 1 : 2); // stop, start
        if (outcome != Outcome::succeed) {
            QCOMPARE(errorSeenWhenIdle, m_backend->startFailure);
        }
    }

    // A stop ends in idle with the meters at zero; it returns the record, or nothing and the
    // failure's message. Only a new start clears an earlier error.
    void stopEndsInIdle_data() {
        QTest::addColumn<RecordingState>("from");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("at once") << recording << Outcome::succeed << true;
        QTest::newRow("held") << recording << Outcome::hold << true;
        QTest::newRow("fails at once") << recording << Outcome::fail << false;
        QTest::newRow("fails after being held") << recording << Outcome::hold << false;
        QTest::newRow("throws") << recording << Outcome::throwFromCall << false;
    }
    void stopEndsInIdle() {
        QFETCH(RecordingState, from);
        QFETCH(Outcome, outcome);
        QFETCH(bool, succeeds);
        bringTo(from);
        m_coordinator->setError(u"先前的錯誤"_s);
        m_backend->onLevels({0.5F, 0.25F});
        m_backend->stopOutcome = outcome;
        m_backend->stopFailure = u"無法保存錄音：磁碟已滿"_s;
        stop();
        if (outcome == Outcome::hold) {
            QCOMPARE(m_coordinator->state(), saving);
            QCOMPARE(m_stopsDone, 0);
            completeStop(succeeds);
        }
        QTRY_COMPARE(m_coordinator->state(), idle);
        QCOMPARE(m_stopsDone, 1);
        QCOMPARE(m_stopped, succeeds ? std::optional(m_backend->record) : std::nullopt);
        QCOMPARE(m_coordinator->error(), succeeds ? u"先前的錯誤"_s : u"無法保存錄音：磁碟已滿"_s);
        QCOMPARE(m_coordinator->levels(), AudioLevels{});
    }

    // Gains pass on unchanged in every state; levels show only while recording; a failure
    // always sets the error but asks for a stop only while a recording is open.
    void backendTrafficFollowsTheState_data() {
        QTest::addColumn<RecordingState>("state");
        QTest::addColumn<bool>("levelsShown");
        QTest::addColumn<int>("stopRequests");
        QTest::newRow("idle") << idle << false << 0;
        QTest::newRow("starting") << starting << false << 0;
        QTest::newRow("paused") << paused << false << 1;
        QTest::newRow("saving") << saving << false << 0;
    }
    void backendTrafficFollowsTheState() {
        QFETCH(RecordingState, state);
        QFETCH(bool, levelsShown);
        QFETCH(int, stopRequests);
        bringTo(state);
        m_coordinator->setGains(1.5F, -0.25F);
        QCOMPARE(m_backend->calls, QStringList{u"setGains 1.5 -0.25"_s});
        QSignalSpy levels(m_coordinator.get(), &RecordingCoordinator::levelsChanged);
        m_backend->onLevels({0.5F, 0.25F});
        m_backend->onLevels({0.5F, 0.25F}); // unchanged: announced once
        QCOMPARE(m_coordinator->levels(), (levelsShown ? AudioLevels{0.5F, 0.25F} : AudioLevels{}));
        QCOMPARE(levels.size(), levelsShown ? 1 : 0);
        int requests = 0;
        m_coordinator->onUnexpectedStop = [&] { ++requests; };
        m_backend->onFailure(u"錄音中斷：音訊伺服器已關閉"_s);
        QCOMPARE(m_coordinator->error(), u"錄音中斷：音訊伺服器已關閉"_s);
        QCOMPARE(requests, stopRequests);
        QCOMPARE(m_coordinator->state(), state);
    }
};

KIVO_TEST_CLASS(RecordingCoordinatorTest)
#include "RecordingCoordinatorTest.moc"
