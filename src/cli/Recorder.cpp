#include "cli/Recorder.h"

#include "application/MainThread.h"

#include "application/AppModel.h"
#include "cli/CommandLine.h"
#include "cli/Terminal.h"
#include "infrastructure/system/StopSignals.h"

#include <QCoreApplication>

#include <cmath>

namespace kivo::cli {

Recorder::Recorder(AppModel& model, RecordingConfiguration configuration,
                   std::optional<double> seconds)
    : m_model(model)
    , m_configuration(std::move(configuration))
    , m_seconds(seconds)
    , m_terminal(stderrIsTerminal()) {
    m_deadline.setSingleShot(true);
    // A coarse timer may fire 5 % early, which would cut a timed recording short.
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &Recorder::stop);
    m_progress.setInterval(200);
    connect(&m_progress, &QTimer::timeout, this, &Recorder::showProgress);

    connect(&m_model, &AppModel::recordingFinished, this,
            [this](const std::optional<RecordingRecord>& record) {
                m_progress.stop();
                if (m_terminal) {
                    showStatus(QString());
                }
                if (record) {
                    printLine(QString::fromUtf8(writeCompact(record->toJson())));
                }
                const bool stored =
                    record && std::any_of(m_model.library().recordings.begin(),
                                          m_model.library().recordings.end(),
                                          [&](const auto& r) { return r.id() == record->id(); });
                const bool broke = m_model.coordinator().error().has_value();
                QCoreApplication::exit(!stored ? kExitFailed
                                               : (broke ? kExitCaptureBroke : kExitOk));
            });
}

int Recorder::run() {
    if (!m_model.storageAvailable()) {
        return kExitLibraryUnavailable;
    }
    const StopSignals stopSignals([this] { stop(); });
    // "m" on the terminal marks the moment.
    const TerminalKeys keys([this](char key) {
        if (key == 'm' || key == 'M') {
            m_model.addMarker();
        }
    });
    // Started from the event loop, so that even a start that fails at once can end it.
    MainThread::post(this, [this] { begin(); });
    return QCoreApplication::exec();
}

void Recorder::begin() {
    m_model.setConfiguration(m_configuration);
    m_model.start([this] {
        if (m_model.coordinator().state() != RecordingState::recording) {
            QCoreApplication::exit(kExitFailed);
            return;
        }
        if (m_stopRequested) {
            stop();
            return;
        }
        if (m_seconds) {
            m_deadline.start(static_cast<int>(std::ceil(*m_seconds * 1000.0)));
        }
        if (m_terminal) {
            m_progress.start();
            showProgress();
        }
    });
}

void Recorder::stop() {
    m_stopRequested = true;
    m_deadline.stop();
    // Still starting: stopped as soon as it runs. Already saving: the save finishes.
    m_model.stop();
}

void Recorder::showProgress() {
    const AudioLevels levels = m_model.coordinator().levels();
    showStatus(recordingLine(m_model.exportProgress(), m_model.coordinator().elapsed(),
                             levels.system, levels.microphone));
}

} // namespace kivo::cli
