#pragma once

// One command-line recording: starts the coordinator, shows the clock and the levels on a
// terminal, stops after the given time or on Ctrl+C / SIGTERM, and prints the record.

#include "domain/RecordingConfiguration.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <optional>

namespace kivo {
class AudioCaptureService;
class RecordingCoordinator;
} // namespace kivo

namespace kivo::cli {

class Recorder : public QObject {
    Q_OBJECT

public:
    Recorder(RecordingConfiguration configuration, std::optional<double> seconds);
    ~Recorder() override;

    // Runs the event loop until the recording is saved or has failed. Returns the exit code:
    // 0 saved, 1 failed, 3 saved after the capture broke down.
    int run();

private:
    void begin();
    void stop();
    void showProgress();
    void finish(int code);

    RecordingConfiguration m_configuration;
    std::optional<double> m_seconds;
    std::shared_ptr<AudioCaptureService> m_service;
    std::unique_ptr<RecordingCoordinator> m_coordinator;
    QTimer m_deadline;
    QTimer m_progress;
    std::unique_ptr<QSocketNotifier> m_signals;
    bool m_terminal = false;
    bool m_captureFailed = false;
    bool m_stopRequested = false;
};

} // namespace kivo::cli
