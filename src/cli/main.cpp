// kivo-cli: records from the command line through the same coordinator and capture service as
// the desktop program.

#include "application/RecordingCoordinator.h"
#include "cli/CommandLine.h"
#include "cli/Recorder.h"
#include "domain/KivoError.h"
#include "infrastructure/capture/AudioDevices.h"
#include "infrastructure/capture/RunningAudioApps.h"
#include "infrastructure/storage/KivoFolders.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

using namespace kivo;

namespace {

void printError(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toUtf8().constData());
}

void printLine(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kivo"));

    cli::Invocation invocation;
    try {
        invocation = cli::parse(app.arguments().mid(1), KivoFolders::defaultOutput());
    } catch (const KivoError& error) {
        printError(error.text());
        printError(cli::usage());
        return 2;
    }

    switch (invocation.command) {
    case cli::Command::help:
        std::fprintf(stdout, "%s", cli::usage().toUtf8().constData());
        return 0;
    case cli::Command::devices:
        for (const auto& device : AudioDevices::inputs()) {
            printLine(QString::number(device.id) + QLatin1Char('\t') + device.name);
        }
        return 0;
    case cli::Command::apps:
        for (const auto& application : RunningAudioApps::list()) {
            printLine(QString::number(application.id) + QLatin1Char('\t') + application.name +
                      QLatin1Char('\t') + application.bundleID.value_or(QString()));
        }
        return 0;
    case cli::Command::record:
        break;
    }

    cli::Recorder recorder(*invocation.configuration, invocation.seconds);
    return recorder.run();
}
