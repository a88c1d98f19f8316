#pragma once

// Turns a user-given name into text usable as one component of a file name.

#include <QString>

namespace kivo::RecordingNames {

// Longest component, in user-perceived characters.
inline constexpr qsizetype kMaximumLength = 80;

// Longest file name, in bytes of UTF-8, that Linux file systems accept.
inline constexpr qsizetype kMaximumFileNameBytes = 255;

// Replaces each of / \ : ? " < > | and every control or format code point (Cc, Cf: tab, line
// feed, zero-width joiner, soft hyphen) by "_", then trims white space from both ends; an empty
// result, "." or ".." becomes "錄音"; anything longer is cut to its first 80 characters.
QString safeComponent(const QString& text);

} // namespace kivo::RecordingNames
