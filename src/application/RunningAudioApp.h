#pragma once

// A running program that can be recorded on its own: a client of the sound server that names its
// process.

#include <QString>

#include <optional>

namespace kivo {

struct RunningAudioApp {
    qint32 id = 0;                   // process id; identity in lists
    QString name;                    // the client's application name, or "App"
    std::optional<QString> bundleID; // the program's binary name, stable across restarts
    // What the program's first stream plays (its media name), when it plays one: tells apart
    // two programs of one name.
    std::optional<QString> streamName;

    bool operator==(const RunningAudioApp&) const = default;
};

} // namespace kivo
