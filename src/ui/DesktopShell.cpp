#include "ui/DesktopShell.h"

#include "application/MainThread.h"

#include "application/AppModel.h"
#include "application/KivoAppDelegate.h"
#include "ui/AboutWindow.h"
#include "ui/KivoSymbols.h"
#include "ui/KivoTheme.h"
#include "ui/MainWindow.h"
#include "ui/SettingsPage.h"
#include "ui/WindowMemory.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>

namespace kivo {

namespace {

// Changes an action's text only when it differs, so menus are not rebuilt on every tick.
void setText(QAction* action, const QString& text) {
    if (action->text() != text) {
        action->setText(text);
    }
}

void setEnabled(QAction* action, bool enabled) {
    if (action->isEnabled() != enabled) {
        action->setEnabled(enabled);
    }
}

} // namespace

DesktopShell::DesktopShell(AppModel& model, KivoAppDelegate& delegate, DesktopActions& desktop,
                           bool tray, const QString& windowFile)
    : m_model(model)
    , m_delegate(delegate)
    , m_desktop(desktop)
    , m_window(std::make_unique<MainWindow>(model, desktop)) {
    if (!windowFile.isEmpty()) {
        m_memory = std::make_unique<WindowMemory>(*m_window, windowFile);
        m_openMaximized = m_memory->restore();
    }
    m_delegate.setModel(&m_model);
    buildMenus();
    if (tray) {
        buildTray();
    }
    connect(m_window.get(), &MainWindow::closeRequested, this, [this] {
        if (m_tray && m_tray->isVisible()) {
            // Kivo stays in the tray; a recording goes on.
            m_window->hide();
        } else {
            // Without a tray a hidden window would leave a recording running out of sight.
            MainThread::post(this, [this] { requestQuit(); });
        }
    });
    connect(m_window->settingsPage(), &SettingsPage::aboutRequested, this,
            &DesktopShell::showAbout);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &DesktopShell::onCommitData,
            Qt::DirectConnection);
    connect(&m_model, &AppModel::changed, this, &DesktopShell::refresh);
    refresh();
    if (m_tray) {
        m_tray->show();
    }
}

DesktopShell::~DesktopShell() {
    if (m_tray) {
        m_tray->hide();
    }
}

void DesktopShell::buildMenus() {
    // Alt and the letter in brackets open a menu or choose an item, as in every Chinese menu.
    QMenu* file = m_window->menuBar()->addMenu(QStringLiteral("檔案(&F)"));
    m_start = file->addAction(QStringLiteral("開始錄音(&R)"));
    m_start->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+R")));
    m_pause = file->addAction(QStringLiteral("暫停錄音(&P)"));
    m_pause->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+P")));
    m_stop = file->addAction(QStringLiteral("停止並保存(&S)"));
    m_stop->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    m_mark = file->addAction(QStringLiteral("加入標記(&M)"));
    m_mark->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+M")));
    // The recording commands work from every Kivo window: the about window, the tray's menu.
    for (QAction* command : {m_start, m_pause, m_stop, m_mark}) {
        command->setShortcutContext(Qt::ApplicationShortcut);
    }
    file->addSeparator();
    m_quit = file->addAction(QStringLiteral("結束(&Q)"));
    m_quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    m_quit->setMenuRole(QAction::QuitRole);
    QMenu* help = m_window->menuBar()->addMenu(QStringLiteral("說明(&H)"));
    m_aboutAction = help->addAction(QStringLiteral("關於 Kivo(&A)"));
    m_aboutAction->setMenuRole(QAction::AboutRole);

    connect(m_start, &QAction::triggered, this, [this] { m_model.start(); });
    connect(m_pause, &QAction::triggered, this, [this] { m_model.coordinator().togglePause(); });
    connect(m_stop, &QAction::triggered, this, [this] { m_model.stop(); });
    connect(m_mark, &QAction::triggered, this, [this] { m_model.addMarker(); });
    connect(m_quit, &QAction::triggered, this, &DesktopShell::requestQuit);
    connect(m_aboutAction, &QAction::triggered, this, &DesktopShell::showAbout);
}

void DesktopShell::buildTray() {
    m_trayMenu = std::make_unique<QMenu>();
    m_trayMenu->addAction(m_aboutAction);
    m_trayMenu->addSeparator();
    m_trayStatus = m_trayMenu->addAction(QString());
    m_trayStatus->setEnabled(false);
    m_trayClock = m_trayMenu->addAction(QString());
    m_trayClock->setEnabled(false);
    m_trayMenu->addSeparator();
    connect(m_trayMenu->addAction(QStringLiteral("顯示 Kivo")), &QAction::triggered, this,
            &DesktopShell::showWindow);
    // The menu bar's own commands, so that their shortcuts work while the menu is open and the
    // main window hidden.
    m_trayMenu->addActions({m_start, m_pause, m_stop, m_mark});
    m_trayMenu->installEventFilter(this);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_quit);

    // Qt's tray is a StatusNotifierItem when the session runs a watcher for them.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    m_namedTrayIcons = bus.isConnected() && bus.interface()->isServiceRegistered(
                                                QStringLiteral("org.kde.StatusNotifierWatcher"));
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setContextMenu(m_trayMenu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    showWindow();
                }
            });
}

bool DesktopShell::eventFilter(QObject* watched, QEvent* event) {
    // With the main window hidden no visible window holds the commands, so their shortcuts do not
    // reach the tray's open menu as shortcuts: they arrive here as keys.
    if (watched == m_trayMenu.get() && event->type() == QEvent::KeyPress) {
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (QAction* command : {m_start, m_pause, m_stop, m_mark}) {
            if (command->shortcut() == pressed) {
                m_trayMenu->hide();
                if (command->isEnabled()) {
                    command->trigger();
                }
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void DesktopShell::refresh() {
    const RecordingState state = m_model.coordinator().state();
    const bool open = canStop(state);
    const bool paused = state == RecordingState::paused;
    setEnabled(m_start, m_model.canRecord());
    setEnabled(m_pause, open);
    setEnabled(m_stop, open);
    setEnabled(m_mark, m_model.canMark());
    setText(m_pause, paused ? QStringLiteral("繼續錄音(&P)") : QStringLiteral("暫停錄音(&P)"));
    if (!m_tray) {
        return;
    }
    setText(m_trayStatus, QStringLiteral("Kivo · ") + m_model.status());
    setText(m_trayClock, AppModel::clock(m_model.coordinator().elapsed()));
    m_tray->setToolTip(QStringLiteral("Kivo 奇沃 · ") + m_model.status());
    // Recording, paused and idle each look their own in the panel.
    const int look = state == RecordingState::recording ? 1 : paused ? 2 : 0;
    if (m_tray->property("look") != QVariant(look) || m_tray->icon().isNull()) {
        m_tray->setProperty("look", look);
        m_tray->setIcon(trayIcon(look == 1   ? RecordingState::recording
                                 : look == 2 ? RecordingState::paused
                                             : RecordingState::idle));
    }
}

QIcon DesktopShell::trayIcon(RecordingState state) const {
    const bool recording = state == RecordingState::recording;
    const bool paused = state == RecordingState::paused;
    // A panel that shows items over D-Bus (StatusNotifierItem) draws the theme's symbolic icons
    // by name in its own colours, light or dark: it gets the name.
    if (m_namedTrayIcons) {
        const QString name = recording ? QStringLiteral("media-record-symbolic")
                             : paused  ? QStringLiteral("media-playback-pause-symbolic")
                                       : QStringLiteral("audio-input-microphone-symbolic");
        if (QIcon::hasThemeIcon(name)) {
            return QIcon::fromTheme(name);
        }
    }
    // An older tray draws the pixels it is given on a panel of unknown colour: colours that
    // stand out on light and dark panels alike.
    return recording ? KivoSymbols::icon(QStringLiteral("record.circle.fill"), QColor(220, 50, 40))
           : paused  ? KivoSymbols::icon(QStringLiteral("pause.circle"), KivoTheme::brand)
                     : KivoSymbols::icon(QStringLiteral("waveform"), KivoTheme::brand);
}

void DesktopShell::showWindow() {
    if (!m_shownBefore && m_openMaximized) {
        m_window->setWindowState(m_window->windowState() | Qt::WindowMaximized);
    }
    m_shownBefore = true;
    m_window->show();
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->raise();
    m_window->activateWindow();
}

void DesktopShell::showAbout() {
    if (!m_about) {
        m_about = new AboutWindow;
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setObjectName(QStringLiteral("about"));
        // A shortcut works only where a visible window holds its command.
        m_about->addActions({m_start, m_pause, m_stop, m_mark});
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void DesktopShell::requestQuit() {
    const TerminateReply answer = m_delegate.applicationShouldTerminate([](bool terminate) {
        if (terminate) {
            QCoreApplication::exit(0);
        }
    });
    if (answer == TerminateReply::now) {
        QCoreApplication::exit(0);
    }
}

void DesktopShell::onCommitData(QSessionManager& manager) {
    const bool busy = m_model.coordinator().state() != RecordingState::idle || m_model.recovering();
    if (!busy) {
        return;
    }
    // A recording must be saved before the session ends: ask, and hold the logout back; once
    // the recording is saved Kivo quits by itself and the logout can be repeated.
    if (manager.allowsInteraction()) {
        requestQuit();
        manager.release();
    }
    manager.cancel();
}

} // namespace kivo
