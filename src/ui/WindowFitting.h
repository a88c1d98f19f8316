#pragma once

// Keeps a window inside the visible part of its screen: shrunk to the screen's available area
// less an 8-pixel margin when larger, moved back in when partly off it.

#include <QRect>

class QWidget;

namespace kivo::WindowFitting {

inline constexpr int kMargin = 8;

// The frame `frame` fitted into `available` (the screen's available geometry).
QRect fitted(const QRect& frame, const QRect& available);

// Fits `window` (a top-level widget, its frame included) into its screen, unless it is maximized
// or full screen.
void fitVisibleScreen(QWidget& window);

} // namespace kivo::WindowFitting
