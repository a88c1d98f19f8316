#pragma once

// The arguments of kivo-cli, read into what the program does. Parsing is separate from running
// so that every rejection of bad input can be tested without a sound server.

#include "domain/RecordingConfiguration.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace kivo::cli {

enum class Command {
    record,
    devices,
    apps,
    list,
    recover,
    rename,
    trash,
    presets,
    play,
    markers,
    status,
    help
};

// Exit codes, as the usage text lists them.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitCaptureBroke = 3,
    kExitNotFound = 4,
    kExitLibraryUnavailable = 5,
};

// The longest --seconds a recording can be given: the timer counts milliseconds in an int.
inline constexpr double kMaximumSeconds = 2147483.0;

struct Invocation {
    Command command = Command::help;
    // For record: what the options change in the stored defaults, one field each, in order.
    std::vector<std::function<void(RecordingConfiguration&)>> changes;
    std::optional<double> seconds; // absent: until Ctrl+C or SIGTERM
    // For list.
    QString search;
    QString source = QStringLiteral("all");
    bool oldestFirst = false;
    bool json = false; // list and status
    // For recover (absent: list the sessions), rename, trash and play: the record or session id.
    std::optional<QString> id;
    bool all = false;                    // recover --all
    QString name;                        // rename
    std::optional<qsizetype> fromMarker; // play --from-marker N: the marker, from 1

    // For record: the configuration to record with (not yet validated), `defaults` changed by
    // the options.
    RecordingConfiguration recordingFrom(RecordingConfiguration defaults) const;
};

// The usage text, in Traditional Chinese.
QString usage();

// `arguments` without the program name. Throws KivoError with a message for the user on bad
// input.
Invocation parse(const QStringList& arguments);

} // namespace kivo::cli
