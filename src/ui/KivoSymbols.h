#pragma once

// The interface's symbols by name ("record.circle", "mic", "folder", ...): drawn from the
// desktop's freedesktop icon theme when it has a matching icon, otherwise by Kivo's own vector
// drawing, so no control is ever without its symbol. Icons are tinted to the colour asked for
// and rendered at the device pixel ratio they are drawn at, so they stay sharp when scaled.

#include "domain/RecordingMode.h"

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

class QPainter;
class QRectF;

namespace kivo::KivoSymbols {

// The symbol drawn beside a mode's title: "desktopcomputer", "square.grid.2x2", "mic".
QString of(RecordingMode mode);
// The freedesktop icon names tried, in order, for a symbol; empty for an unknown symbol.
QStringList themeNames(const QString& symbol);
// The symbol in `color`. Main thread only.
QIcon icon(const QString& symbol, const QColor& color);
// Kivo's own drawing of the symbol into `rect` (every symbol used has one).
void paintFallback(QPainter& painter, const QString& symbol, const QRectF& rect,
                   const QColor& color);
// True when the drawing comes from the icon theme.
bool fromTheme(const QString& symbol);

} // namespace kivo::KivoSymbols
