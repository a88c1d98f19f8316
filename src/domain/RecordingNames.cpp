#include "domain/RecordingNames.h"

#include "domain/Text.h"

#include <QChar>
#include <QList>
#include <QStringView>

namespace kivo::RecordingNames {

namespace {

bool isForbidden(char32_t codePoint) {
    switch (codePoint) {
    case U'/':
    case U'\\':
    case U':':
    case U'?':
    case U'"':
    case U'<':
    case U'>':
    case U'|':
        return true;
    default:
        break;
    }
    const auto category = QChar::category(codePoint);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

} // namespace

QString safeComponent(const QString& text) {
    QString replaced;
    replaced.reserve(text.size());
    // Code point by code point, so a zero-width joiner inside an emoji sequence goes too while
    // the emoji around it stay.
    for (const char32_t codePoint : QStringView(text).toUcs4()) {
        if (isForbidden(codePoint)) {
            replaced += u'_';
        } else {
            replaced += QString::fromUcs4(&codePoint, 1);
        }
    }
    const QString trimmed = trimmedWhitespace(replaced);
    if (trimmed.isEmpty() || trimmed == u"." || trimmed == u"..") {
        return QStringLiteral("錄音");
    }
    return firstCharacters(trimmed, kMaximumLength);
}

} // namespace kivo::RecordingNames
