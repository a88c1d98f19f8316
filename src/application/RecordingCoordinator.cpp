#include "application/RecordingCoordinator.h"

#include <QPointer>
#include <QTimer>

#include <chrono>

namespace kivo {

namespace {

constexpr std::chrono::milliseconds kElapsedInterval{200};

} // namespace

double monotonicSeconds() {
    // libstdc++'s steady clock is CLOCK_MONOTONIC.
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

RecordingCoordinator::RecordingCoordinator(std::shared_ptr<RecordingBackend> backend,
                                           std::function<double()> now, QObject* parent)
    : QObject(parent)
    , m_backend(std::move(backend))
    , m_now(std::move(now)) {
    const QPointer<RecordingCoordinator> self(this);
    m_backend->onLevels = [self](AudioLevels levels) {
        if (!self) {
            return;
        }
        // A late reading after a pause or during saving must not light the meters.
        self->setLevels(self->m_state == RecordingState::recording ? levels : AudioLevels{});
    };
    m_backend->onFailure = [self](QString message) {
        if (!self) {
            return;
        }
        self->setError(std::move(message));
        // Stopping is the owner's business; the state stays as it is until it calls stop().
        if (self && canStop(self->m_state) && self->onUnexpectedStop) {
            self->onUnexpectedStop();
        }
    };
}

RecordingCoordinator::~RecordingCoordinator() = default;

void RecordingCoordinator::setError(std::optional<QString> error) {
    if (m_error == error) {
        return;
    }
    m_error = std::move(error);
    emit errorChanged();
    emit changed();
}

void RecordingCoordinator::start(const RecordingConfiguration& configuration,
                                 std::function<void()> done) {
    if (m_state != RecordingState::idle) {
        if (done) {
            done();
        }
        return;
    }
    const auto validated =
        Result<RecordingConfiguration>::capture([&] { return configuration.validated(); });
    if (!validated) {
        setError(validated.errorDescription());
        if (done) {
            done();
        }
        return;
    }

    // The state change is announced last, so an observer reacting to it reads the rest current.
    setError(std::nullopt);
    setElapsed(0);
    setState(RecordingState::starting);

    const quint64 operation = ++m_operation;
    const QPointer<RecordingCoordinator> self(this);
    try {
        m_backend->start(validated.value(), [self, operation, done](Result<> result) {
            if (self) {
                self->finishStart(operation, result, done);
            }
        });
    } catch (...) {
        // A backend that throws instead of completing must not leave the recorder starting
        // for ever; finishStart ignores this when the completion has already run.
        if (self) {
            self->finishStart(operation, Result<>::failure(std::current_exception()), done);
        }
    }
}

void RecordingCoordinator::finishStart(quint64 operation, const Result<>& result,
                                       const std::function<void()>& done) {
    if (operation != m_operation || m_state != RecordingState::starting) {
        return;
    }
    if (!result) {
        setError(result.errorDescription());
        setState(RecordingState::idle);
    } else {
        m_timeline.start(m_now());
        m_timer = std::make_unique<QTimer>();
        m_timer->setInterval(kElapsedInterval);
        connect(m_timer.get(), &QTimer::timeout, this, &RecordingCoordinator::refreshElapsed);
        m_timer->start();
        setState(RecordingState::recording);
    }
    if (done) {
        done();
    }
}

void RecordingCoordinator::refreshElapsed() {
    // Outside an open recording the timeline still runs from the last start, so refreshing then
    // would set a finished recording's length counting again (or show it while starting).
    if (canStop(m_state)) {
        setElapsed(m_timeline.elapsed(m_now()));
    }
}

void RecordingCoordinator::togglePause() {
    if (m_state == RecordingState::recording) {
        // The pause moment is taken before the backend stops accepting audio, and the resume
        // moment after it accepts audio again, so the clock never counts unrecorded time.
        m_timeline.pause(m_now());
        m_backend->pause();
        setState(RecordingState::paused);
    } else if (m_state == RecordingState::paused) {
        m_backend->resume();
        m_timeline.resume(m_now());
        setState(RecordingState::recording);
    }
    refreshElapsed();
}

void RecordingCoordinator::setGains(float system, float microphone) {
    m_backend->setGains(system, microphone);
}

void RecordingCoordinator::addMarker(const QString& label,
                                     std::function<void(Result<RecordingMarker>)> done) {
    if (!canStop(m_state)) {
        done(Result<RecordingMarker>::failure(KivoError(QStringLiteral("沒有正在進行的錄音。"))));
        return;
    }
    m_backend->addMarker(label, std::move(done));
}

void RecordingCoordinator::relabelMarker(qsizetype index, const QString& label,
                                         std::function<void(Result<>)> done) {
    if (!canStop(m_state)) {
        done(Result<>::failure(KivoError(QStringLiteral("沒有正在進行的錄音。"))));
        return;
    }
    m_backend->relabelMarker(index, label, std::move(done));
}

void RecordingCoordinator::stop(std::function<void(std::optional<RecordingRecord>)> done) {
    if (!canStop(m_state)) {
        if (done) {
            done(std::nullopt);
        }
        return;
    }
    refreshElapsed();
    m_timer.reset();
    setState(RecordingState::saving);

    const quint64 operation = ++m_operation;
    const QPointer<RecordingCoordinator> self(this);
    try {
        m_backend->stop([self, operation, done](Result<RecordingRecord> result) {
            if (self) {
                self->finishStop(operation, result, done);
            }
        });
    } catch (...) {
        if (self) {
            self->finishStop(operation, Result<RecordingRecord>::failure(std::current_exception()),
                             done);
        }
    }
}

void RecordingCoordinator::finishStop(
    quint64 operation, const Result<RecordingRecord>& result,
    const std::function<void(std::optional<RecordingRecord>)>& done) {
    if (operation != m_operation || m_state != RecordingState::saving) {
        return;
    }
    std::optional<RecordingRecord> record;
    if (result) {
        record = result.value();
    } else {
        setError(result.errorDescription());
    }
    setLevels(AudioLevels{});
    setState(RecordingState::idle);
    if (done) {
        done(std::move(record));
    }
}

void RecordingCoordinator::acknowledgeSaved() {
    m_backend->acknowledgeSaved();
}

void RecordingCoordinator::setState(RecordingState state) {
    if (m_state == state) {
        return;
    }
    m_state = state;
    emit stateChanged(state);
    emit changed();
}

void RecordingCoordinator::setLevels(AudioLevels levels) {
    if (m_levels == levels) {
        return;
    }
    m_levels = levels;
    emit levelsChanged(levels);
    emit changed();
}

void RecordingCoordinator::setElapsed(double elapsed) {
    if (m_elapsed == elapsed) {
        return;
    }
    m_elapsed = elapsed;
    emit elapsedChanged(elapsed);
    emit changed();
}

} // namespace kivo
