// kivo: the desktop program. One per user: a second start shows the running window and ends.
// Wires the Linux services, the application model, the quit flow and the window.

#include "app/FirstPaintReport.h"
#include "application/AppModel.h"
#include "application/KivoAppDelegate.h"
#include "application/MainThread.h"
#include "domain/KivoError.h"
#include "infrastructure/capture/SoundServerProbe.h"
#include "infrastructure/system/GlobalShortcuts.h"
#include "infrastructure/system/LinuxServices.h"
#include "infrastructure/system/RecorderBus.h"
#include "infrastructure/system/RunningKivo.h"
#include "infrastructure/system/StopSignals.h"
#include "ui/AboutWindow.h"
#include "ui/BrandMark.h"
#include "ui/DesktopShell.h"
#include "ui/DialogFolderChooser.h"
#include "ui/DialogQuitQuestion.h"
#include "ui/KivoDialog.h"
#include "ui/KivoTheme.h"
#include "ui/LinuxDesktopActions.h"
#include "ui/MainWindow.h"
#include "ui/SettingsPage.h"
#include "ui/SingleInstance.h"
#include "ui/WindowMemory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QLocale>
#include <QPainter>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#ifndef KIVO_VERSION
#define KIVO_VERSION "0.1.0"
#endif

using namespace kivo;

namespace {

// Without a display Qt would abort with a long message about platform plugins; say it in one
// line and name the terminal recorder instead.
bool hasDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return true;
        }
    }
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        // The logo's bars are sized for a 40-pixel square: scale the painter, not the logo.
        painter.scale(size / 40.0, size / 40.0);
        BrandMark::paint(painter, QPointF(0, 0), 40);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// How the sound server answers, for the settings page.
SoundServerState soundServerState() {
    switch (probeSoundServer()) {
    case SoundServerReach::connected:
        return SoundServerState::connected;
    case SoundServerReach::refused:
        return SoundServerState::refused;
    case SoundServerReach::unreachable:
        break;
    }
    return SoundServerState::unreachable;
}

void setUpApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Kivo"));
    QApplication::setApplicationVersion(QStringLiteral(KIVO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.kivo.Kivo"));
    QApplication::setQuitOnLastWindowClosed(false);
    KivoTheme::applyTo(app);
    // The interface is Traditional Chinese: dates, times and sizes are written as in Taiwan.
    QLocale::setDefault(
        QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan));
    // The desktop's icon theme, with Adwaita for the symbols it lacks (and where there is none).
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == u"hicolor") {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
    app.setWindowIcon(applicationIcon());
}

// A command for the running Kivo, as a desktop shortcut or a launcher's action runs it:
// `kivo --toggle-record` and the like.
struct Command {
    const char* option;
    const char* method; // of app.kivo.Recorder1
    bool startsWindow;  // without a running Kivo, this one starts and then runs the command
};

constexpr Command kCommands[] = {
    {"--record", "Record", true},
    {"--toggle-record", "ToggleRecord", true},
    {"--pause", "Pause", false},
    {"--resume", "Resume", false},
    {"--toggle-pause", "TogglePause", false},
    {"--stop", "Stop", false},
    {"--mark", "Mark", false},
};

std::optional<Command> commandOf(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const Command& command : kCommands) {
            if (std::strcmp(argv[i], command.option) == 0) {
                return command;
            }
        }
    }
    return std::nullopt;
}

// Runs the command in the running Kivo: 0 once it was taken, 1 with the reason when it was
// refused; empty when no Kivo answers.
std::optional<int> commandRunning(const Command& command) {
    const QString method = QString::fromLatin1(command.method);
    // A marker from the command line gets the default label.
    const auto answer =
        RunningKivo::call(method, method == u"Mark" ? QVariantList{QString()} : QVariantList());
    if (answer.outcome == RunningKivo::Outcome::notRunning) {
        return std::nullopt;
    }
    if (answer.outcome == RunningKivo::Outcome::refused) {
        std::fprintf(stderr, "%s\n", answer.message.toUtf8().constData());
        return 1;
    }
    return 0;
}

int notRunning(const QString& why) {
    std::fprintf(stderr, "%s\n", why.toUtf8().constData());
    return 1;
}

// Another Kivo starting at the same moment answers on the bus once its window runs.
std::optional<int> commandRunningSoon(const Command& command) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        if (auto exitCode = commandRunning(command)) {
            return exitCode;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<Command> command = commandOf(argc, argv);
    if (!hasDisplay(argc, argv)) {
        if (command) {
            // The running Kivo may be reached without a display of this program's own.
            QCoreApplication app(argc, argv);
            if (auto exitCode = commandRunning(*command)) {
                return *exitCode;
            }
            if (!command->startsWindow) {
                return notRunning(QStringLiteral("Kivo 沒有在執行。"));
            }
        }
        std::fprintf(stderr,
                     "沒有可用的顯示器，無法開啟 Kivo 視窗。請改用終端機版：kivo-cli record "
                     "--seconds 60\n");
        return 1;
    }
    QApplication app(argc, argv);
    setUpApplication(app);

    if (command) {
        if (auto exitCode = commandRunning(*command)) {
            return *exitCode;
        }
        if (!command->startsWindow) {
            return notRunning(QStringLiteral("Kivo 沒有在執行。"));
        }
    }
    SingleInstance instance;
    if (!instance.claim()) {
        // A Kivo was starting: it takes the command once it is on the bus.
        if (command) {
            const auto exitCode = commandRunningSoon(*command);
            return exitCode ? *exitCode : notRunning(QStringLiteral("Kivo 沒有回應。"));
        }
        return 0;
    }

    LinuxServices::Options options;
    options.folderChooser = std::make_shared<DialogFolderChooser>();
    AppServices services;
    try {
        services = LinuxServices::make(options);
        // The window shows at once; a library of thousands of records fills in a moment later.
        services.loadInBackground = true;
    } catch (const KivoError& error) {
        KivoDialog failure(KivoDialog::Symbol::warning, QStringLiteral("Kivo"), error.text(),
                           nullptr);
        failure.addButton(QStringLiteral("好"), KivoDialog::Role::accept);
        failure.exec();
        return 1;
    }
    AppModel model(std::move(services));
    KivoAppDelegate delegate(std::make_shared<DialogQuitQuestion>());
    delegate.setModel(&model);
    LinuxDesktopActions desktop(soundServerState);
    DesktopShell shell(model, delegate, desktop, QSystemTrayIcon::isSystemTrayAvailable(),
                       WindowMemory::defaultFile());
    FirstPaintReport report(shell.window());
    QObject::connect(&instance, &SingleInstance::activationRequested, &shell,
                     [&shell](const QString& token) {
                         // Qt's Wayland window asks the compositor with the token it finds here.
                         if (!token.isEmpty()) {
                             qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
                         }
                         shell.showWindow();
                     });
    // `kill`, or a logout without a session manager, asks with SIGTERM: no one is there to answer
    // the quit question, so the recording is stopped and saved (a start or a recovery in progress
    // is let finish first), then the program ends.
    const StopSignals stopSignals([&model] {
        model.settle([](bool settled) {
            if (!settled) {
                StopSignals::endNow(0);
            }
            QCoreApplication::exit(0);
        });
    });
    RecorderBus bus(model, [&shell] { shell.showWindow(); });
    if (!bus.publish(true)) {
        qWarning("kivo: not on the session bus as %s: commands and shortcuts will not reach it",
                 qPrintable(RecorderBus::kServiceName));
    }
    // Where the desktop offers shortcuts that work wherever the focus is, they do what the
    // window's commands do.
    GlobalShortcuts shortcuts;
    QObject::connect(
        &shortcuts, &GlobalShortcuts::activated, &bus, [&model, &bus, &shell](const QString& id) {
            if (id == GlobalShortcuts::kShow) {
                shell.showWindow();
                return;
            }
            const auto refusal =
                id == GlobalShortcuts::kToggleRecord ? bus.toggleRecord() : bus.togglePause();
            if (refusal) {
                model.setNotice(*refusal);
            }
        });
    QObject::connect(&shortcuts, &GlobalShortcuts::changed, &shell, [&shortcuts, &shell] {
        std::optional<SettingsPage::BoundShortcuts> bound;
        if (shortcuts.availability() == GlobalShortcuts::Availability::bound) {
            bound.emplace();
            for (const auto& shortcut : shortcuts.shortcuts()) {
                bound->append({shortcut.description, shortcut.trigger});
            }
        }
        if (shortcuts.availability() != GlobalShortcuts::Availability::asking) {
            shell.window().settingsPage()->showGlobalShortcuts(bound);
        }
    });
    shortcuts.start();
    shell.showWindow();
    if (command) {
        // Started by `kivo --record`: the command runs once the library is read.
        const auto run = [&model, &bus, method = QString::fromLatin1(command->method)] {
            const auto refusal = method == u"Record" ? bus.record() : bus.toggleRecord();
            if (refusal) {
                model.setAlertMessage(*refusal);
            }
        };
        if (!model.loading()) {
            MainThread::post(&bus, run);
        } else {
            auto* waiting = new QObject(&bus);
            QObject::connect(&model, &AppModel::changed, waiting, [&model, waiting, run] {
                if (!model.loading()) {
                    delete waiting;
                    run();
                }
            });
        }
    }
    return QApplication::exec();
}
