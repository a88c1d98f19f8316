#pragma once

// The program's scenes around the model: the main window, the about window, the menu commands
// with their shortcuts and the tray icon with its menu; and every way of quitting (the "結束"
// command, the tray, the session's logout, closing the window where there is no tray) goes
// through the application delegate's quit flow.
//
// Main thread only.

#include "application/RecordingState.h"
#include "ui/AboutWindow.h"

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QMenu;
class QSessionManager;
class QSystemTrayIcon;

namespace kivo {

class AppModel;
class DesktopActions;
class KivoAppDelegate;
class MainWindow;
class WindowMemory;

class DesktopShell : public QObject {
    Q_OBJECT

public:
    // `tray`: show a tray icon (only where the desktop has a tray). `windowFile`: where the
    // window's size and maximised state are kept across launches; empty: not kept.
    DesktopShell(AppModel& model, KivoAppDelegate& delegate, DesktopActions& desktop, bool tray,
                 const QString& windowFile = {});
    ~DesktopShell() override;

    MainWindow& window() const { return *m_window; }
    // Null until first opened.
    AboutWindow* aboutWindow() const { return m_about; }
    QSystemTrayIcon* trayIcon() const { return m_tray.get(); }
    QMenu* trayMenu() const { return m_trayMenu.get(); }

    // Shows the main window in front and gives it the keyboard.
    void showWindow();
    void showAbout();
    // Asks the quit flow; the program ends (QCoreApplication::quit) when it answers so.
    void requestQuit();

    // The commands, shared by the menu bar and the tray menu.
    QAction* startAction() const { return m_start; }
    QAction* pauseAction() const { return m_pause; }
    QAction* stopAction() const { return m_stop; }
    QAction* quitAction() const { return m_quit; }
    QAction* aboutAction() const { return m_aboutAction; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    QIcon trayIcon(RecordingState state) const;
    void buildMenus();
    void buildTray();
    void onCommitData(QSessionManager& manager);

    AppModel& m_model;
    KivoAppDelegate& m_delegate;
    DesktopActions& m_desktop;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<WindowMemory> m_memory;
    bool m_shownBefore = false;
    bool m_namedTrayIcons = false;
    bool m_openMaximized = false;
    QPointer<AboutWindow> m_about;
    std::unique_ptr<QMenu> m_trayMenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;

    QAction* m_start = nullptr;
    QAction* m_pause = nullptr;
    QAction* m_stop = nullptr;
    QAction* m_mark = nullptr;
    QAction* m_quit = nullptr;
    QAction* m_aboutAction = nullptr;
    // Tray menu only.
    QAction* m_trayStatus = nullptr;
    QAction* m_trayClock = nullptr;
};

} // namespace kivo
