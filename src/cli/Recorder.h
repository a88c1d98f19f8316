#pragma once

// One command-line recording on the application model: starts it, shows the clock and the levels
// on a terminal, stops after the given time or on Ctrl+C, SIGTERM or SIGHUP (the model itself
// stops for sleep, the recorded application's exit and a capture failure), shows the save's
// progress, prints the model's notices and alerts to stderr and the record to stdout.

#include "domain/RecordingConfiguration.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace kivo {
class AppModel;
} // namespace kivo

namespace kivo::cli {

class TerminalMessages;

class Recorder : public QObject {
    Q_OBJECT

public:
    Recorder(AppModel& model, RecordingConfiguration configuration, std::optional<double> seconds);

    // Runs the event loop until the recording is saved or has failed. Returns the exit code:
    // 0 saved, 1 failed, 3 saved after the capture broke down, 5 library unavailable.
    int run();

private:
    void begin();
    void stop();
    void showProgress();

    AppModel& m_model;
    RecordingConfiguration m_configuration;
    std::optional<double> m_seconds;
    QTimer m_deadline;
    QTimer m_progress;
    bool m_terminal = false;
    bool m_stopRequested = false;
};

} // namespace kivo::cli
