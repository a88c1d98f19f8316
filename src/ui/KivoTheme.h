#pragma once

// The colours and type sizes of the whole interface. Sizes are in device-independent pixels.

#include <QColor>
#include <QFont>
#include <QString>

namespace kivo::KivoTheme {

inline const QColor paper{246, 247, 244};
inline const QColor ink{38, 48, 47};
inline const QColor muted{119, 128, 125};
inline const QColor line{230, 233, 227};
inline const QColor sidebar{34, 45, 43};
inline const QColor accent{211, 99, 72};
inline const QColor accentLight{252, 240, 233};
inline const QColor green{102, 141, 105};
inline const QColor softGreen{238, 241, 230};
// The logo's square.
inline const QColor brand{231, 151, 118};
// Behind the level history.
inline const QColor waveBackground{245, 247, 240};

// The family every text is drawn in: the Traditional Chinese face of Noto CJK, so that Han
// characters take their Taiwanese forms whatever the locale.
inline constexpr const char* kFontFamily = "Noto Sans CJK TC";

// The interface font at `pixels` size and `weight`.
QFont font(qreal pixels, QFont::Weight weight = QFont::Normal);
// Letter spacing in pixels, for the small spaced-out labels.
QFont spaced(QFont font, qreal spacing);
// The style sheet of a text field: white, outlined in the line colour, rounded.
QString fieldStyleSheet();

} // namespace kivo::KivoTheme
