#pragma once

// The colours and type sizes of the whole interface. Sizes are in device-independent pixels at
// the desktop's usual text size; fonts are set in points and follow the desktop's text scale.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QApplication;

namespace kivo::KivoTheme {

inline const QColor paper{246, 247, 244};
inline const QColor ink{38, 48, 47};
// Secondary text: dark enough to keep 4.5:1 against white, paper and the light backgrounds.
inline const QColor muted{100, 109, 106};
inline const QColor line{230, 233, 227};
inline const QColor sidebar{34, 45, 43};
inline const QColor accent{211, 99, 72};
// The accent where it carries or holds text (the prominent button while recording, warnings):
// a deeper shade, so small text keeps 4.5:1.
inline const QColor accentText{178, 72, 48};
inline const QColor accentLight{252, 240, 233};
inline const QColor green{102, 141, 105};
// The green where it is text (the status line, links): deep enough for 4.5:1.
inline const QColor greenText{72, 107, 76};
inline const QColor softGreen{238, 241, 230};
// The logo's square.
inline const QColor brand{231, 151, 118};
// Behind the level history.
inline const QColor waveBackground{245, 247, 240};

// The family every text is drawn in: the Traditional Chinese face of Noto CJK, so that Han
// characters take their Taiwanese forms whatever the locale.
inline constexpr const char* kFontFamily = "Noto Sans CJK TC";

// The interface font for a size of `pixels` at the usual text size, and `weight`; set in points
// and scaled by textScale().
QFont font(qreal pixels, QFont::Weight weight = QFont::Normal);
// How much larger than usual the desktop sets its text: its font size against 10 points, taken
// by applyTo(). 1 before.
qreal textScale();
// A length in pixels that holds text, grown with the text scale.
int scaled(int pixels);
// Letter spacing in pixels, for the small spaced-out labels.
QFont spaced(QFont font, qreal spacing);
// The style sheet of a text field: white, outlined in the line colour, rounded.
QString fieldStyleSheet();

// Kivo's light look for the whole application, whatever the desktop's theme: Qt's own texts in
// Traditional Chinese, the Fusion style with Kivo's palette (menus, lists, selections, scroll
// bars, tooltips), and the interface font at the desktop's text size. Call once, after the
// application is made and before any window.
void applyTo(QApplication& application);
// The palette applyTo() sets.
QPalette palette();

} // namespace kivo::KivoTheme
