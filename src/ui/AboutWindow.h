#pragma once

// The about window: the program's icon, name, version and line; what Kivo does; its main
// features and its privacy and requirements as two cards; the maker's links and who makes it.
// Sized to its content and not resizable.
//
// Main thread only.

#include <QWidget>

namespace kivo {

class AboutWindow : public QWidget {
    Q_OBJECT

public:
    explicit AboutWindow(QWidget* parent = nullptr);
};

} // namespace kivo
