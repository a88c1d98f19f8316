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
    // Wayland gives a window no position on the screen, and the compositor places it: there only
    // its size is fitted.
    const bool placed = !QGuiApplication::platformName().startsWith(u"wayland");
    const QRect available = screen->availableGeometry();
    QRect frame = window.frameGeometry();
    if (!placed) {
        frame.moveTopLeft(available.topLeft() + QPoint(kMargin, kMargin));
    }
    const QRect target = fitted(frame, available);
    if (target == frame) {
        return;
    }
    // The frame includes the window manager's decorations; resize() sets the inner size.
    const QSize decorations = window.frameGeometry().size() - window.geometry().size();
    window.resize(target.size() - decorations);
    if (placed) {
        window.move(target.topLeft());
    }
}

} // namespace kivo::WindowFitting
