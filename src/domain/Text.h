#pragma once

// Text helpers shared by the name rules: trimming white space and counting user-perceived
// characters (extended grapheme clusters, as ICU finds them), never code units.

#include <QString>
#include <QStringView>

namespace kivo {

// True for the white space trimmed from names: the Unicode White_Space code points (the space
// separators, U+2028, U+2029, tab) together with the line breaks U+000A to U+000D and U+0085.
bool isTrimmedWhitespace(char32_t codePoint);

// `text` without the white space at either end, tested code point by code point.
QString trimmedWhitespace(QStringView text);

// The first `count` user-perceived characters of `text`: a base letter with its combining marks,
// a flag, or an emoji sequence joined by zero-width joiners each count as one. The whole text
// when it has no more than `count`.
QString firstCharacters(const QString& text, qsizetype count);

// The longest run of whole user-perceived characters from the start of `text` that takes at most
// `maximumBytes` bytes in UTF-8.
QString firstCharactersWithinBytes(const QString& text, qsizetype maximumBytes);

} // namespace kivo
