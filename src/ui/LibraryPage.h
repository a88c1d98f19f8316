#pragma once

// (interim) the LibraryPage of the main window.

#include <QWidget>

namespace kivo {

class AppModel;
class DesktopActions;

class LibraryPage : public QWidget {
    Q_OBJECT

public:
    LibraryPage(AppModel& model, DesktopActions& desktop, QWidget* parent = nullptr);

    // Shows the model as it is now.
    void refresh();

private:
    AppModel& m_model;
    DesktopActions& m_desktop;
};

} // namespace kivo
