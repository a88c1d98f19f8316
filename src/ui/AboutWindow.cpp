#include "ui/AboutWindow.h"

namespace kivo {

AboutWindow::AboutWindow(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("關於 Kivo"));
}

} // namespace kivo
