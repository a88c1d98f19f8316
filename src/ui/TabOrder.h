#pragma once

// Puts the keyboard focus chain of a window in the order its layouts show the controls: each
// layout's items in turn, a column to its end before the next column, a scroll area's content in
// its place. Rows built after the window (recovery rows, preset cards, recent recordings) would
// otherwise come last, after the controls bar.
//
// Main thread only.

class QWidget;

namespace kivo::TabOrder {

// Orders the chain of `window` (a top-level widget) anew; call it after rows are rebuilt.
void followLayouts(QWidget* window);

} // namespace kivo::TabOrder
