#pragma once

// The settings page, two columns. Left: the default configuration new recordings start from
// (source, microphone, format, folder), editable only while idle, with no recovery running and
// the library writable; then where sound comes from and how the sound server answers, asked
// each time the page is shown. Right: the program's name and version with the about button,
// how recordings are kept (and a button showing the library folder), and the shortcuts: the
// window's own and those the desktop binds.
//
// Main thread only.

#include <QList>
#include <QWidget>

#include <optional>
#include <utility>

class QLabel;

namespace kivo {

class AppModel;
class DesktopActions;
class KivoButton;
class KivoPicker;
class KivoSwitch;
class Panel;

class SettingsPage : public QWidget {
    Q_OBJECT

public:
    SettingsPage(AppModel& model, DesktopActions& desktop, QWidget* parent = nullptr);

    // Shows the model as it is now.
    void refresh();

    // The shortcuts the desktop binds for Kivo wherever the focus is: each one's description
    // and the trigger the desktop reports (empty while unbound); without a value, the desktop
    // offers none, and the page says how to bind a command instead.
    using BoundShortcuts = QList<std::pair<QString, QString>>;
    void showGlobalShortcuts(const std::optional<BoundShortcuts>& shortcuts);

signals:
    // "關於 Kivo" was pressed: the shell opens the about window.
    void aboutRequested();

protected:
    // Asks the desktop, off the main thread, how the sound server answers, and whether sound
    // settings can be opened.
    void showEvent(QShowEvent* event) override;
    // Elides the folder path again when its label is resized.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* defaultsPanel();
    QWidget* aboutPanel();
    void showFolder();

    AppModel& m_model;
    DesktopActions& m_desktop;
    Panel* m_defaults = nullptr;
    KivoPicker* m_mode = nullptr;
    KivoSwitch* m_microphone = nullptr;
    KivoPicker* m_format = nullptr;
    // The default folder's path, shown elided to the label's width.
    QString m_folderPath;
    QLabel* m_folder = nullptr;
    QLabel* m_serverState = nullptr;
    QLabel* m_globalShortcuts = nullptr;
    KivoButton* m_soundSettings = nullptr;
};

} // namespace kivo
