#pragma once

// A recording backend for the coordinator's tests. Its start and stop succeed or fail at once
// (inside the call) or through the event loop, throw, or are held until the test completes
// them. It records every call it receives.

#include "application/RecordingBackend.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace kivo::test {

class FakeRecordingBackend : public RecordingBackend {
public:
    enum class Outcome { succeed, fail, succeedLater, failLater, hold, throwFromCall };

    FakeRecordingBackend();

    // How the next start and stop complete, and with which message when they fail.
    Outcome startOutcome = Outcome::succeed;
    Outcome stopOutcome = Outcome::succeed;
    QString startFailure = QStringLiteral("無法啟動錄音。");
    QString stopFailure = QStringLiteral("無法保存錄音。");
    // What a successful stop returns.
    RecordingRecord record;
    // acknowledgeSaved() throws a KivoError with this text when set.
    std::optional<QString> acknowledgeFailure;
    // Run inside pause() and resume(), after they are recorded.
    std::function<void()> whilePausing;
    std::function<void()> whileResuming;

    // "start", "pause", "resume", "setGains <system> <microphone>", "stop", "acknowledgeSaved".
    QStringList calls;
    std::optional<RecordingConfiguration> startedWith;

    // Complete a held start or stop.
    void completeStart();
    void failStart();
    void completeStop();
    void failStop();

    // As the capture side would report them.
    void reportLevels(AudioLevels levels);
    void reportFailure(const QString& message);

    void start(const RecordingConfiguration& configuration,
               std::function<void(Result<>)> completion) override;
    void pause() override;
    void resume() override;
    void setGains(float system, float microphone) override;
    void stop(std::function<void(Result<RecordingRecord>)> completion) override;
    void acknowledgeSaved() override;
    void releaseAfterIndexFailure() override;

private:
    std::function<void(Result<>)> m_pendingStart;
    std::function<void(Result<RecordingRecord>)> m_pendingStop;
};

} // namespace kivo::test
