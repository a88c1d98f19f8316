#pragma once

// kivo-cli while the Kivo window runs: the window holds the library, so a recording is made by
// the window, asked over the session bus; this program shows its clock and levels and asks it to
// stop at the end. Also `kivo-cli status`.

#include "domain/RecordingConfiguration.h"

#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <optional>

namespace kivo {
class AppModel;
} // namespace kivo

namespace kivo::cli {

class WindowRecorder : public QObject {
    Q_OBJECT

public:
    WindowRecorder(RecordingConfiguration configuration, std::optional<double> seconds);

    // Runs the event loop until the window has saved the recording or could not make it.
    // Returns the exit code: 0 saved (the record printed to stdout), 1 refused or not saved.
    int run();

private:
    void begin();
    void stop();
    void poll();
    void finish();

    RecordingConfiguration m_configuration;
    std::optional<double> m_seconds;
    QTimer m_deadline;
    QTimer m_poll;
    bool m_terminal = false;
    bool m_started = false; // the window's recording has left idle
    QString m_lastRecordBefore;
    QVariantMap m_properties;
};

// Prints the running Kivo's state, clock and last saved record; without a running Kivo, the
// library's newest record. `model` is a view-only model of the library.
int printStatus(const AppModel& model, bool json);

} // namespace kivo::cli
