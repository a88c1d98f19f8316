#include "ui/KivoTheme.h"

namespace kivo::KivoTheme {

QFont font(qreal pixels, QFont::Weight weight) {
    QFont result(QString::fromLatin1(kFontFamily));
    result.setPixelSize(qRound(pixels));
    result.setWeight(weight);
    return result;
}

QFont spaced(QFont font, qreal spacing) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

} // namespace kivo::KivoTheme
