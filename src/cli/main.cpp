// kivo-cli: records from the command line and manages the library through the same application
// model as the desktop program.

#include "application/AppModel.h"
#include "cli/CommandLine.h"
#include "cli/LibraryCommands.h"
#include "cli/Recorder.h"
#include "cli/Terminal.h"
#include "cli/WindowRecorder.h"
#include "domain/KivoError.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/capture/AudioDevices.h"
#include "infrastructure/capture/RunningAudioApps.h"
#include "infrastructure/pulse/PulseConnection.h"
#include "infrastructure/system/LinuxServices.h"
#include "infrastructure/system/PulseSourceCatalog.h"
#include "infrastructure/system/RecorderBus.h"
#include "infrastructure/system/RunningKivo.h"

#include <QCoreApplication>

#include <cstdio>

using namespace kivo;

namespace {

// devices and apps: an unreachable sound server is an error here, not an empty list.
int listSources(cli::Command command) {
    try {
        PulseConnection connection;
        if (command == cli::Command::devices) {
            for (const auto& device : AudioDevices::inputs(connection)) {
                cli::printLine(QString::number(device.id) + QLatin1Char('\t') + device.name);
            }
        } else {
            const auto applications =
                PulseSourceCatalog::sortedByName(RunningAudioApps::list(connection));
            for (const auto& application : applications) {
                cli::printLine(QString::number(application.id) + QLatin1Char('\t') +
                               application.name + QLatin1Char('\t') +
                               application.bundleID.value_or(QString()));
            }
        }
    } catch (const PlatformError& error) {
        cli::printError(
            QStringLiteral("無法連線到音訊伺服器。請確認 PipeWire 或 PulseAudio 正在執行。\n") +
            error.description());
        return cli::kExitFailed;
    }
    return cli::kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kivo"));

    cli::Invocation invocation;
    try {
        invocation = cli::parse(app.arguments().mid(1));
    } catch (const KivoError& error) {
        cli::printError(error.text());
        cli::printError(cli::usage());
        return cli::kExitUsage;
    }

    LinuxServices::Options options;
    switch (invocation.command) {
    case cli::Command::help:
        std::fprintf(stdout, "%s", cli::usage().toUtf8().constData());
        return cli::kExitOk;
    case cli::Command::devices:
    case cli::Command::apps:
        return listSources(invocation.command);
    case cli::Command::record:
        // The running window holds the library: it records, asked over the bus.
        if (RunningKivo::isRunning()) {
            options.viewOnly = true;
            options.systemEvents = false;
            options.soundServer = false;
        }
        break;
    case cli::Command::status:
    case cli::Command::list:
    case cli::Command::presets:
    case cli::Command::play:
    case cli::Command::markers:
        // Looking never keeps the window or a recording from writing the library.
        options.viewOnly = true;
        options.systemEvents = false;
        options.soundServer = invocation.command == cli::Command::play;
        break;
    case cli::Command::recover:
    case cli::Command::rename:
    case cli::Command::trash:
        options.soundServer = false;
        options.systemEvents = false;
        break;
    }

    AppServices services;
    try {
        services = LinuxServices::make(options);
    } catch (const KivoError& error) {
        cli::printError(error.text());
        return cli::kExitLibraryUnavailable;
    }
    AppModel model(std::move(services));
    switch (invocation.command) {
    case cli::Command::record: {
        if (options.viewOnly) {
            // The defaults stored in the window's settings, changed by the options given.
            cli::WindowRecorder recorder(invocation.recordingFrom(model.configuration()),
                                         invocation.seconds);
            return recorder.run();
        }
        cli::ModelMessages messages(model);
        if (!model.storageAvailable()) {
            messages.flush();
            return cli::kExitLibraryUnavailable;
        }
        // The defaults stored in the window's settings, changed by the options given.
        cli::Recorder recorder(model, invocation.recordingFrom(model.configuration()),
                               invocation.seconds);
        // `kivo --stop` and the like reach this recording too, while no window runs.
        RecorderBus bus(model, nullptr);
        bus.publish(false);
        return recorder.run();
    }
    case cli::Command::list:
        return cli::listRecords(model, invocation);
    case cli::Command::recover:
        return cli::recoverSessions(model, invocation);
    case cli::Command::rename:
        return cli::renameRecord(model, invocation);
    case cli::Command::trash:
        return cli::trashRecord(model, invocation);
    case cli::Command::presets:
        return cli::listPresets(model);
    case cli::Command::status:
        return cli::printStatus(model, invocation.json);
    case cli::Command::play:
        return cli::playRecord(model, invocation);
    case cli::Command::markers:
        return cli::listMarkers(model, invocation);
    default:
        return cli::kExitOk;
    }
}
