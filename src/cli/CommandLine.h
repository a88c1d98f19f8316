#pragma once

// The arguments of kivo-cli, read into what the program does. Parsing is separate from running
// so that every rejection of bad input can be tested without a sound server.

#include "domain/RecordingConfiguration.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kivo::cli {

enum class Command { record, devices, apps, help };

struct Invocation {
    Command command = Command::help;
    // For record: the configuration to record with (not yet validated) and how long to record.
    std::optional<RecordingConfiguration> configuration;
    std::optional<double> seconds; // absent: until Ctrl+C or SIGTERM
};

// The usage text, in Traditional Chinese.
QString usage();

// `arguments` without the program name. `defaultOutput` is the folder recordings go to unless
// --output names another. Throws KivoError with a message for the user on bad input.
Invocation parse(const QStringList& arguments, const QString& defaultOutput);

} // namespace kivo::cli
