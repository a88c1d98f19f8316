#pragma once

// (interim) The about window: the program, what it does, privacy and requirements, the maker.

#include <QWidget>

namespace kivo {

class DesktopActions;

class AboutWindow : public QWidget {
    Q_OBJECT

public:
    explicit AboutWindow(QWidget* parent = nullptr);
};

} // namespace kivo
