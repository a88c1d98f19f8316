#pragma once

// A recording backend for the coordinator's tests. Its start and stop succeed or fail inside
// the call, throw, or are held until the test completes them. It records every call it
// receives. Main thread only.

#include "application/RecordingBackend.h"
#include "domain/KivoError.h"

#include <QStringList>

namespace kivo::test {

class FakeRecordingBackend : public RecordingBackend {
public:
    enum class Outcome { succeed, fail, hold, throwFromCall };

    // How the next start and stop complete, and with which message when they fail.
    Outcome startOutcome = Outcome::succeed;
    Outcome stopOutcome = Outcome::succeed;
    QString startFailure = QStringLiteral("無法啟動錄音。");
    QString stopFailure = QStringLiteral("無法保存錄音。");
    // What a successful stop returns.
    RecordingRecord record = RecordingRecord(QUuid::createUuid(), QStringLiteral("我的錄音"),
                                             Date{1}, 20, RecordingConfiguration(QUrl()), {});
    // "start", "pause", "resume", "setGains <system> <microphone>", "stop".
    QStringList calls;
    std::optional<RecordingConfiguration> startedWith;
    // Complete a held start or stop.
    std::function<void(Result<>)> heldStart;
    std::function<void(Result<RecordingRecord>)> heldStop;

    void start(const RecordingConfiguration& configuration,
               std::function<void(Result<>)> completion) override {
        calls.append(QStringLiteral("start"));
        startedWith = configuration;
        complete(startOutcome, std::move(completion), Result<>::success(), startFailure, heldStart);
    }
    void pause() override { calls.append(QStringLiteral("pause")); }
    void resume() override { calls.append(QStringLiteral("resume")); }
    void setGains(float system, float microphone) override {
        calls.append(QStringLiteral("setGains %1 %2").arg(double(system)).arg(double(microphone)));
    }
    void stop(std::function<void(Result<RecordingRecord>)> completion) override {
        calls.append(QStringLiteral("stop"));
        complete(stopOutcome, std::move(completion), Result<RecordingRecord>::success(record),
                 stopFailure, heldStop);
    }
    void addMarker(const QString& label,
                   std::function<void(Result<RecordingMarker>)> completion) override {
        completion(Result<RecordingMarker>::success(RecordingMarker{0, label}));
    }
    void relabelMarker(qsizetype, const QString&,
                       std::function<void(Result<>)> completion) override {
        completion(Result<>::success());
    }
    void acknowledgeSaved() override {}
    void releaseAfterIndexFailure() override {}

private:
    template <typename T>
    static void complete(Outcome outcome, std::function<void(Result<T>)> completion,
                         Result<T> success, const QString& failure,
                         std::function<void(Result<T>)>& held) {
        if (outcome == Outcome::throwFromCall) {
            throw KivoError::message(failure);
        }
        if (outcome == Outcome::hold) {
            held = std::move(completion);
            return;
        }
        completion(outcome == Outcome::fail ? Result<T>::failure(KivoError::message(failure))
                                            : success);
    }
};

} // namespace kivo::test
