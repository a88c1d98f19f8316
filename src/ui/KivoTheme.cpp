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

QString fieldStyleSheet() {
    return QStringLiteral("QLineEdit { border: 1px solid %1; border-radius: 8px; "
                          "padding: 7px 10px; background: white; }"
                          "QLineEdit:focus { border-color: %2; }")
        .arg(line.name(), green.name());
}

} // namespace kivo::KivoTheme
