// kivo: the desktop program. One per user: a second start shows the running window and ends.
// Wires the Linux services, the application model, the quit flow and the window.

#include "app/FirstPaintReport.h"
#include "application/AppModel.h"
#include "application/KivoAppDelegate.h"
#include "domain/KivoError.h"
#include "infrastructure/capture/SoundServerProbe.h"
#include "infrastructure/system/LinuxServices.h"
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
#include "ui/SingleInstance.h"
#include "ui/WindowMemory.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QPainter>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstring>

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
    QApplication::setDesktopFileName(QStringLiteral("kivo"));
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

} // namespace

int main(int argc, char** argv) {
    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr,
                     "沒有可用的顯示器，無法開啟 Kivo 視窗。請改用終端機版：kivo-cli record "
                     "--seconds 60\n");
        return 1;
    }
    QApplication app(argc, argv);
    setUpApplication(app);

    SingleInstance instance;
    if (!instance.claim()) {
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
    shell.showWindow();
    return QApplication::exec();
}
