#pragma once

// Kivo's JSON: an ordered tree for writing its files, the two ways they are written, and the
// strict readers for what QJsonDocument has parsed.
//
// Objects keep their members in insertion order (the field order of the value they encode), and
// numbers keep the width they were made with, so a 32-bit gain of 0.8 is written 0.8 and not
// 0.800000011920929. Every "/" inside a string is written "\/".

#include "domain/Date.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <QUuid>

#include <concepts>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <utility>
#include <variant>
#include <vector>

namespace kivo {

class JsonValue {
public:
    using Array = std::vector<JsonValue>;
    using Member = std::pair<QString, JsonValue>;
    // Members in the order they are written by writeCompact().
    using Object = std::vector<Member>;
    using Variant =
        std::variant<std::nullptr_t, bool, qint64, double, float, QString, Array, Object>;

    JsonValue() = default;
    JsonValue(std::nullptr_t) {}
    JsonValue(bool value)
        : m_value(value) {}
    // Any integer that fits in 64 signed bits.
    template <std::integral T>
    requires(!std::same_as<T, bool> && (std::is_signed_v<T> || sizeof(T) < sizeof(qint64)))
        JsonValue(T value)
        : m_value(static_cast<qint64>(value)) {}
    // Written in the shortest text that reads back to the same double.
    JsonValue(double value)
        : m_value(value) {}
    // Written in the shortest text that reads back to the same 32-bit float.
    JsonValue(float value)
        : m_value(value) {}
    JsonValue(QString value)
        : m_value(std::move(value)) {}
    JsonValue(Array value)
        : m_value(std::move(value)) {}
    JsonValue(Object value)
        : m_value(std::move(value)) {}
    // A C string would silently become a bool.
    JsonValue(const char*) = delete;

    const Variant& variant() const { return m_value; }
    bool isNull() const { return std::holds_alternative<std::nullptr_t>(m_value); }

    // UUIDs upper-case in canonical 8-4-4-4-12 form; URLs as their fully encoded absolute text;
    // dates as seconds since the reference date.
    static JsonValue fromUuid(const QUuid& uuid);
    static JsonValue fromUrl(const QUrl& url);
    static JsonValue fromDate(Date date);

private:
    Variant m_value;
};

// A value that JSON cannot hold (a number that is not finite).
struct JsonEncodingError : std::runtime_error {
    explicit JsonEncodingError(const QString& description)
        : std::runtime_error(description.toStdString()) {}
};

// No white space, members in insertion order (the recovery manifest).
QByteArray writeCompact(const JsonValue& value);
// Two spaces per level, `"key" : value`, the members of every object sorted by code point, no
// trailing newline; an empty array or object as [] or {} (the library document).
QByteArray writeSortedIndented(const JsonValue& value);

// Stored JSON that does not have the expected shape: a missing key, a value of the wrong type,
// an integer with a fraction or out of range, an unknown raw value, an unreadable UUID or URL.
struct JsonDecodingError : std::runtime_error {
    explicit JsonDecodingError(const QString& description)
        : std::runtime_error(description.toStdString()) {}
};

// Strict readers. Each throws JsonDecodingError; none falls back to a default. Numbers that are
// integers may be written with an exponent or a zero fraction (5.0), never with another fraction.
namespace json {

QJsonObject toObject(const QJsonValue& value);
QJsonArray toArray(const QJsonValue& value);
QString toString(const QJsonValue& value);
bool toBool(const QJsonValue& value);
qint32 toInt32(const QJsonValue& value);
quint32 toUInt32(const QJsonValue& value);
// Fails when the number is too large for a 32-bit float.
float toFloat(const QJsonValue& value);
double toDouble(const QJsonValue& value);
// Only the canonical 36-character form, in either letter case, without braces.
QUuid toUuid(const QJsonValue& value);
// Any text that parses as a URL (a relative or non-file URL included); empty text fails.
QUrl toUrl(const QJsonValue& value);
Date toDate(const QJsonValue& value);

// The value under `key`; fails when the key is missing.
QJsonValue required(const QJsonObject& object, QStringView key);
// The value under `key`, or nothing when the key is missing or holds null.
std::optional<QJsonValue> optional(const QJsonObject& object, QStringView key);

// required(object, key) read by `convert`, a failure naming the key.
template <typename Convert>
auto requiredField(const QJsonObject& object, QStringView key, Convert convert)
    -> decltype(convert(QJsonValue())) {
    const QJsonValue value = required(object, key);
    try {
        return convert(value);
    } catch (const JsonDecodingError& error) {
        throw JsonDecodingError(QStringLiteral("JSON 欄位「%1」：%2")
                                    .arg(key.toString(), QString::fromUtf8(error.what())));
    }
}

// optional(object, key) read by `convert`, a failure naming the key.
template <typename Convert>
auto optionalField(const QJsonObject& object, QStringView key, Convert convert)
    -> std::optional<decltype(convert(QJsonValue()))> {
    const std::optional<QJsonValue> value = optional(object, key);
    if (!value) {
        return std::nullopt;
    }
    try {
        return convert(*value);
    } catch (const JsonDecodingError& error) {
        throw JsonDecodingError(QStringLiteral("JSON 欄位「%1」：%2")
                                    .arg(key.toString(), QString::fromUtf8(error.what())));
    }
}

inline QJsonObject requiredObject(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toObject);
}
inline QJsonArray requiredArray(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toArray);
}
inline QString requiredString(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toString);
}
inline std::optional<QString> optionalString(const QJsonObject& o, QStringView key) {
    return optionalField(o, key, toString);
}
inline bool requiredBool(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toBool);
}
inline qint32 requiredInt32(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toInt32);
}
inline std::optional<qint32> optionalInt32(const QJsonObject& o, QStringView key) {
    return optionalField(o, key, toInt32);
}
inline quint32 requiredUInt32(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toUInt32);
}
inline std::optional<quint32> optionalUInt32(const QJsonObject& o, QStringView key) {
    return optionalField(o, key, toUInt32);
}
inline float requiredFloat(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toFloat);
}
inline double requiredDouble(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toDouble);
}
inline QUuid requiredUuid(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toUuid);
}
inline QUrl requiredUrl(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toUrl);
}
inline Date requiredDate(const QJsonObject& o, QStringView key) {
    return requiredField(o, key, toDate);
}

} // namespace json

} // namespace kivo
