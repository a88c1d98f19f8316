#include "domain/Text.h"

#include <QChar>

#include <unicode/ubrk.h>
#include <unicode/utypes.h>

#include <memory>
#include <vector>

namespace kivo {

namespace {

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};

// Where each user-perceived character of `text` ends, in code units, in order.
std::vector<qsizetype> characterEnds(const QString& text) {
    std::vector<qsizetype> ends;
    // Qt's own boundary finder splits surrogate pairs next to Indic and Thai text and mis-pairs
    // regional indicators after an emoji; ICU follows the extended grapheme cluster rules.
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator(
        ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar*>(text.constData()),
                  static_cast<int32_t>(text.size()), &status));
    if (U_FAILURE(status) || !iterator) {
        // ICU's data ships with the library, so this only happens when it is broken; cutting
        // at code points then at least never splits a surrogate pair.
        for (qsizetype end = 0; end < text.size();) {
            end += text[end].isHighSurrogate() && end + 1 < text.size() &&
                           text[end + 1].isLowSurrogate()
                       ? 2
                       : 1;
            ends.push_back(end);
        }
        return ends;
    }
    for (int32_t next = ubrk_next(iterator.get()); next != UBRK_DONE;
         next = ubrk_next(iterator.get())) {
        ends.push_back(next);
    }
    return ends;
}

} // namespace

bool isTrimmedWhitespace(char32_t codePoint) {
    if ((codePoint >= 0x09 && codePoint <= 0x0D) || codePoint == 0x85) {
        return true;
    }
    switch (QChar::category(codePoint)) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

QString trimmedWhitespace(QStringView text) {
    // Every white-space code point lies in the Basic Multilingual Plane, and a surrogate is never
    // white space, so testing code units finds the same ends as testing code points.
    qsizetype begin = 0;
    while (begin < text.size() && isTrimmedWhitespace(text[begin].unicode())) {
        ++begin;
    }
    qsizetype end = text.size();
    while (end > begin && isTrimmedWhitespace(text[end - 1].unicode())) {
        --end;
    }
    return text.sliced(begin, end - begin).toString();
}

QString firstCharacters(const QString& text, qsizetype count) {
    if (count <= 0) {
        return {};
    }
    // Every character is at least one code unit, so a text this short cannot be too long.
    if (text.size() <= count) {
        return text;
    }
    const auto ends = characterEnds(text);
    return static_cast<qsizetype>(ends.size()) <= count
               ? text
               : text.first(ends[static_cast<std::size_t>(count - 1)]);
}

QString firstCharactersWithinBytes(const QString& text, qsizetype maximumBytes) {
    if (text.toUtf8().size() <= maximumBytes) {
        return text;
    }
    qsizetype kept = 0;
    qsizetype bytes = 0;
    for (const qsizetype end : characterEnds(text)) {
        bytes += QStringView(text).sliced(kept, end - kept).toUtf8().size();
        if (bytes > maximumBytes) {
            break;
        }
        kept = end;
    }
    return text.first(kept);
}

} // namespace kivo
