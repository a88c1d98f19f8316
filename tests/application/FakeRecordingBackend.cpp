#include "FakeRecordingBackend.h"

#include "domain/KivoError.h"

#include <QCoreApplication>
#include <QTimer>

namespace kivo::test {

namespace {

template <typename T>
void deliver(bool later, std::function<void(Result<T>)> completion, Result<T> result) {
    if (later) {
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
    if (throwInsteadOfCompleting) {
        throw KivoError::message(startFailure);
    }
    switch (startOutcome) {
    case Outcome::succeed:
        deliver(completeLater, std::move(completion), Result<>::success());
        break;
    case Outcome::fail:
        deliver(completeLater, std::move(completion),
                Result<>::failure(KivoError::message(startFailure)));
        break;
    case Outcome::hold:
        m_pendingStart = std::move(completion);
        break;
    }
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
    if (throwInsteadOfCompleting) {
        throw KivoError::message(stopFailure);
    }
    switch (stopOutcome) {
    case Outcome::succeed:
        deliver(completeLater, std::move(completion), Result<RecordingRecord>::success(record));
        break;
    case Outcome::fail:
        deliver(completeLater, std::move(completion),
                Result<RecordingRecord>::failure(KivoError::message(stopFailure)));
        break;
    case Outcome::hold:
        m_pendingStop = std::move(completion);
        break;
    }
}

void FakeRecordingBackend::acknowledgeSaved() {
    calls.append(QStringLiteral("acknowledgeSaved"));
    if (acknowledgeFailure) {
        throw KivoError::message(*acknowledgeFailure);
    }
}

void FakeRecordingBackend::completeStart() {
    std::exchange(m_pendingStart, {})(Result<>::success());
}

void FakeRecordingBackend::failStart(const QString& message) {
    std::exchange(m_pendingStart, {})(Result<>::failure(KivoError::message(message)));
}

void FakeRecordingBackend::completeStop() {
    std::exchange(m_pendingStop, {})(Result<RecordingRecord>::success(record));
}

void FakeRecordingBackend::failStop(const QString& message) {
    std::exchange(m_pendingStop, {})(Result<RecordingRecord>::failure(KivoError::message(message)));
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
