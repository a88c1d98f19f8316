#include "ui/WindowFitting.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace kivo::WindowFitting {

QRect fitted(const QRect& frame, const QRect& available) {
    const QRect area = available.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    const int width = std::min(frame.width(), area.width());
    const int height = std::min(frame.height(), area.height());
    const int x = std::min(std::max(frame.x(), area.x()), area.x() + area.width() - width);
    const int y = std::min(std::max(frame.y(), area.y()), area.y() + area.height() - height);
    return {x, y, width, height};
}

void fitVisibleScreen(QWidget& window) {
    // The desktop sizes a maximized or full-screen window to the screen itself.
    if (window.isFullScreen() || window.isMaximized()) {
        return;
    }
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect frame = window.frameGeometry();
    const QRect target = fitted(frame, screen->availableGeometry());
    if (target == frame) {
        return;
    }
    // The frame includes the window manager's decorations; resize() sets the inner size.
    const QSize decorations = frame.size() - window.geometry().size();
    window.resize(target.size() - decorations);
    window.move(target.topLeft());
}

} // namespace kivo::WindowFitting
