#pragma once

// The main window: the dark sidebar with the four pages, the top bar with the status, the page
// heading with its button, the recovery panel, the current page, the recording controls bar, the
// notice line and the alert. Everything it shows is read from the model on each change; the only
// state of its own is the open preset-name sheet.
//
// Main thread only.

#include "application/AppModel.h"
#include "ui/KivoDialog.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>

class QLabel;

class QScrollArea;
class QVBoxLayout;

namespace kivo {

class DesktopActions;
class KivoButton;
class LibraryPage;
class Panel;
class PresetsPage;
class RecordingControlsView;
class SettingsPage;
class SidebarButton;
class StatusDot;
class StudioPage;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr QSize kDefaultSize{1240, 760};
    static constexpr QSize kMinimumSize{980, 560};

    MainWindow(AppModel& model, DesktopActions& desktop, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the model as it is now.
    void refresh();

    // The parts tests and the shell reach for.
    SidebarButton* pageButton(KivoPage page) const;
    KivoButton* headingButton() const { return m_headingButton; }
    RecordingControlsView* controls() const { return m_controls; }
    Panel* recoveryPanel() const { return m_recoveryPanel; }
    QWidget* noticeLine() const { return m_noticeLine; }
    QWidget* page(KivoPage page) const;
    SettingsPage* settingsPage() const { return m_settings; }
    // The alert on screen, when one is.
    KivoDialog* alert() const { return m_alert; }

signals:
    // The window was asked to close (the shell decides what that means).
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildSidebar();
    QWidget* buildTopBar();
    QWidget* buildHeading();
    QWidget* buildNoticeLine();
    void refreshHeading();
    void refreshRecoveries();
    void refreshAlert();
    void onHeadingButton();
    void watchScreen();
    void scheduleFit();
    // Lays the notice over the bottom of the page.
    void placeNotice();
    // Orders the tab chain as the screen shows the controls, on the next turn of the loop.
    void orderTabs();

    AppModel& m_model;
    DesktopActions& m_desktop;

    std::array<SidebarButton*, 4> m_pageButtons{};
    QLabel* m_topTitle = nullptr;
    StatusDot* m_statusDot = nullptr;
    QLabel* m_status = nullptr;
    QScrollArea* m_scroll = nullptr;
    QLabel* m_eyebrow = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    KivoButton* m_headingButton = nullptr;
    Panel* m_recoveryPanel = nullptr;
    QVBoxLayout* m_recoveryRows = nullptr;
    QList<RecoveryItem> m_shownRecoveries;
    QList<KivoButton*> m_recoverButtons;
    StudioPage* m_studio = nullptr;
    LibraryPage* m_library = nullptr;
    PresetsPage* m_presets = nullptr;
    SettingsPage* m_settings = nullptr;
    std::array<std::function<void()>, 4> m_refreshPage;
    RecordingControlsView* m_controls = nullptr;
    QWidget* m_noticeLine = nullptr;
    QLabel* m_noticeText = nullptr;
    QPointer<KivoDialog> m_alert;
    KivoPage m_shownPage = KivoPage::studio;
    bool m_screenWatched = false;
    QMetaObject::Connection m_screenConnection; // to the available area of the window's screen
    bool m_fitScheduled = false;
    bool m_tabsOrdered = true; // false while an ordering waits for its turn
};

} // namespace kivo
