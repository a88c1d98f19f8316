#include "FakeRecordingBackend.h"

#include "domain/KivoError.h"

#include <QCoreApplication>
#include <QTimer>

namespace kivo::test {

namespace {

using Outcome = FakeRecordingBackend::Outcome;

// Completes `completion` as `outcome` says, or keeps it in `pending`.
template <typename T>
void complete(Outcome outcome, std::function<void(Result<T>)> completion, Result<T> success,
              const QString& failure, std::function<void(Result<T>)>& pending) {
    if (outcome == Outcome::throwFromCall) {
        throw KivoError::message(failure);
    }
    if (outcome == Outcome::hold) {
        pending = std::move(completion);
        return;
    }
    const bool fails = outcome == Outcome::fail || outcome == Outcome::failLater;
    Result<T> result = fails ? Result<T>::failure(KivoError::message(failure)) : std::move(success);
    if (outcome == Outcome::succeedLater || outcome == Outcome::failLater) {
        QTimer::singleShot(0, QCoreApplication::instance(),
                           [completion = std::move(completion), result = std::move(result)] {
                               completion(result);
                           });
    } else {
        completion(std::move(result));
    }
}

} // namespace

FakeRecordingBackend::FakeRecordingBackend()
    : record(QUuid(QStringLiteral("{6B29FC40-CA47-1067-B31D-00DD010662DA}")),
             QStringLiteral("我的錄音"), Date{740000000.5}, 20,
             RecordingConfiguration(QUrl::fromLocalFile(QStringLiteral("/tmp/Kivo/"))),
             {QUrl::fromLocalFile(QStringLiteral("/tmp/Kivo/我的錄音.m4a"))}) {}

void FakeRecordingBackend::start(const RecordingConfiguration& configuration,
                                 std::function<void(Result<>)> completion) {
    calls.append(QStringLiteral("start"));
    startedWith = configuration;
    complete(startOutcome, std::move(completion), Result<>::success(), startFailure,
             m_pendingStart);
}

void FakeRecordingBackend::pause() {
    calls.append(QStringLiteral("pause"));
    if (whilePausing) {
        whilePausing();
    }
}

void FakeRecordingBackend::resume() {
    calls.append(QStringLiteral("resume"));
    if (whileResuming) {
        whileResuming();
    }
}

void FakeRecordingBackend::setGains(float system, float microphone) {
    calls.append(QStringLiteral("setGains %1 %2").arg(double(system)).arg(double(microphone)));
}

void FakeRecordingBackend::stop(std::function<void(Result<RecordingRecord>)> completion) {
    calls.append(QStringLiteral("stop"));
    complete(stopOutcome, std::move(completion), Result<RecordingRecord>::success(record),
             stopFailure, m_pendingStop);
}

void FakeRecordingBackend::acknowledgeSaved() {
    calls.append(QStringLiteral("acknowledgeSaved"));
    if (acknowledgeFailure) {
        throw KivoError::message(*acknowledgeFailure);
    }
}

void FakeRecordingBackend::releaseAfterIndexFailure() {
    calls.append(QStringLiteral("releaseAfterIndexFailure"));
}

void FakeRecordingBackend::completeStart() {
    std::exchange(m_pendingStart, {})(Result<>::success());
}

void FakeRecordingBackend::failStart() {
    std::exchange(m_pendingStart, {})(Result<>::failure(KivoError::message(startFailure)));
}

void FakeRecordingBackend::completeStop() {
    std::exchange(m_pendingStop, {})(Result<RecordingRecord>::success(record));
}

void FakeRecordingBackend::failStop() {
    std::exchange(m_pendingStop,
                  {})(Result<RecordingRecord>::failure(KivoError::message(stopFailure)));
}

void FakeRecordingBackend::reportLevels(AudioLevels levels) {
    if (onLevels) {
        onLevels(levels);
    }
}

void FakeRecordingBackend::reportFailure(const QString& message) {
    if (onFailure) {
        onFailure(message);
    }
}

} // namespace kivo::test
