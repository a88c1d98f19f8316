#pragma once

// The Kivo that owns app.kivo.Kivo on the session bus, as another program reaches it: the
// commands `kivo --toggle-record` and the like, `kivo-cli status`, and `kivo-cli record` while
// the window holds the library. Blocking calls, for programs that run one command and end.

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace kivo {

class RunningKivo {
public:
    enum class Outcome { taken, refused, notRunning };
    struct Answer {
        Outcome outcome = Outcome::notRunning;
        QString message; // refused: the running Kivo's reason; notRunning: why it was not reached
    };

    // Whether a Kivo owns the name now.
    static bool isRunning();
    // Calls the method of app.kivo.Recorder1 and waits for its answer.
    static Answer call(const QString& method, const QVariantList& arguments = {});
    // Every property of app.kivo.Recorder1; empty when no Kivo answers.
    static QVariantMap properties();
};

} // namespace kivo
