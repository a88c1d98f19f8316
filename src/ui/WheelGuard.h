#pragma once

// Lets a control on a scrolling page (a slider, a picker) take the mouse wheel only while it has
// the keyboard focus; otherwise the wheel goes on to the page, which scrolls. A person scrolling
// past a gain slider during a recording must not change the gain.
//
// Main thread only.

#include <QObject>

class QWidget;

namespace kivo::WheelGuard {

// Installs the rule on `control`, which keeps the keyboard focus from the wheel too.
void install(QWidget* control);

} // namespace kivo::WheelGuard
