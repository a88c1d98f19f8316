#include "domain/JsonValue.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace kivo {

namespace {

void appendString(QByteArray& out, const QString& text) {
    out += '"';
    for (const char byte : text.toUtf8()) {
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(byte) < 0x20) {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[static_cast<unsigned char>(byte) >> 4];
                out += kHex[static_cast<unsigned char>(byte) & 0x0F];
            } else {
                out += byte;
            }
        }
    }
    out += '"';
}

template <typename Number>
void appendShortest(QByteArray& out, Number value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr - buffer.data());
}

void requireFinite(double value) {
    if (!std::isfinite(value)) {
        throw JsonEncodingError(QStringLiteral("無法以 JSON 寫入非有限的數值。"));
    }
}

void appendDouble(QByteArray& out, double value) {
    requireFinite(value);
    appendShortest(out, value);
}

void appendFloat(QByteArray& out, float value) {
    requireFinite(static_cast<double>(value));
    // The shortest text for the float is what a float parser reads back exactly. JSON readers
    // parse a double and round that to a float, which lands on the neighbour for one value and
    // its negative (7.038531e-26); that one is written with its exact double value instead.
    std::array<char, 64> buffer{};
    const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    double readBack = 0;
    std::from_chars(buffer.data(), written.ptr, readBack);
    if (static_cast<float>(readBack) == value) {
        out.append(buffer.data(), written.ptr - buffer.data());
    } else {
        appendShortest(out, static_cast<double>(value));
    }
}

// Code point order; UTF-16 order differs from it for the code points above U+E000.
bool precedesByCodePoint(const QString& a, const QString& b) {
    const auto left = a.toUcs4();
    const auto right = b.toUcs4();
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
}

struct Writer {
    bool indented = false;
    QByteArray out;

    void newline(int depth) {
        out += '\n';
        out.append(QByteArray(2 * depth, ' '));
    }

    void write(const JsonValue& value, int depth) {
        std::visit([&](const auto& v) { writeAlternative(v, depth); }, value.variant());
    }

    void writeAlternative(std::nullptr_t, int) { out += "null"; }
    void writeAlternative(bool value, int) { out += value ? "true" : "false"; }
    void writeAlternative(qint64 value, int) { appendShortest(out, value); }
    void writeAlternative(double value, int) { appendDouble(out, value); }
    void writeAlternative(float value, int) { appendFloat(out, value); }
    void writeAlternative(const QString& value, int) { appendString(out, value); }

    void writeAlternative(const JsonValue::Array& array, int depth) {
        if (array.empty()) {
            out += "[]";
            return;
        }
        out += '[';
        bool first = true;
        for (const auto& element : array) {
            if (!first) {
                out += ',';
            }
            first = false;
            if (indented) {
                newline(depth + 1);
            }
            write(element, depth + 1);
        }
        if (indented) {
            newline(depth);
        }
        out += ']';
    }

    void writeAlternative(const JsonValue::Object& object, int depth) {
        if (object.empty()) {
            out += "{}";
            return;
        }
        std::vector<const JsonValue::Member*> members;
        members.reserve(object.size());
        for (const auto& member : object) {
            members.push_back(&member);
        }
        if (indented) {
            std::stable_sort(members.begin(), members.end(), [](const auto* a, const auto* b) {
                return precedesByCodePoint(a->first, b->first);
            });
        }
        out += '{';
        bool first = true;
        for (const auto* member : members) {
            if (!first) {
                out += ',';
            }
            first = false;
            if (indented) {
                newline(depth + 1);
            }
            appendString(out, member->first);
            out += indented ? " : " : ":";
            write(member->second, depth + 1);
        }
        if (indented) {
            newline(depth);
        }
        out += '}';
    }
};

[[noreturn]] void fail(const QString& description) {
    throw JsonDecodingError(description);
}

// A JSON number whose value is a whole number in [minimum, maximum].
template <typename Integer>
Integer toInteger(const QJsonValue& value, const QString& expected) {
    if (!value.isDouble()) {
        fail(QStringLiteral("應為%1。").arg(expected));
    }
    // Small integers are exact as doubles, so the range and fraction tests are exact too.
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number ||
        number < static_cast<double>(std::numeric_limits<Integer>::min()) ||
        number > static_cast<double>(std::numeric_limits<Integer>::max())) {
        fail(QStringLiteral("應為%1。").arg(expected));
    }
    return static_cast<Integer>(number);
}

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

} // namespace

JsonValue JsonValue::fromUuid(const QUuid& uuid) {
    return JsonValue(uuid.toString(QUuid::WithoutBraces).toUpper());
}

JsonValue JsonValue::fromUrl(const QUrl& url) {
    return JsonValue(url.toString(QUrl::FullyEncoded));
}

JsonValue JsonValue::fromDate(Date date) {
    return JsonValue(date.secondsSinceReferenceDate);
}

QByteArray writeCompact(const JsonValue& value) {
    Writer writer;
    writer.write(value, 0);
    return writer.out;
}

QByteArray writeSortedIndented(const JsonValue& value) {
    Writer writer;
    writer.indented = true;
    writer.write(value, 0);
    return writer.out;
}

namespace json {

QJsonObject toObject(const QJsonValue& value) {
    if (!value.isObject()) {
        fail(QStringLiteral("應為 JSON 物件。"));
    }
    return value.toObject();
}

QJsonArray toArray(const QJsonValue& value) {
    if (!value.isArray()) {
        fail(QStringLiteral("應為 JSON 陣列。"));
    }
    return value.toArray();
}

QString toString(const QJsonValue& value) {
    if (!value.isString()) {
        fail(QStringLiteral("應為字串。"));
    }
    return value.toString();
}

bool toBool(const QJsonValue& value) {
    if (!value.isBool()) {
        fail(QStringLiteral("應為 true 或 false。"));
    }
    return value.toBool();
}

qint32 toInt32(const QJsonValue& value) {
    return toInteger<qint32>(value, QStringLiteral(" 32 位元有號整數"));
}

quint32 toUInt32(const QJsonValue& value) {
    return toInteger<quint32>(value, QStringLiteral(" 32 位元無號整數"));
}

float toFloat(const QJsonValue& value) {
    if (!value.isDouble()) {
        fail(QStringLiteral("應為數字。"));
    }
    // Checked before the conversion: converting a double beyond a float's range is undefined.
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::abs(number) > double(std::numeric_limits<float>::max())) {
        fail(QStringLiteral("數字超出 32 位元浮點數的範圍。"));
    }
    return static_cast<float>(number);
}

double toDouble(const QJsonValue& value) {
    // Qt's parser refuses numbers beyond a double, but a value built in code may hold one.
    if (!value.isDouble() || !std::isfinite(value.toDouble())) {
        fail(QStringLiteral("應為數字。"));
    }
    return value.toDouble();
}

QUuid toUuid(const QJsonValue& value) {
    const QString text = toString(value);
    bool canonical = text.size() == 36;
    for (qsizetype i = 0; canonical && i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        canonical = dash ? text[i] == u'-' : isHexDigit(text[i]);
    }
    if (!canonical) {
        fail(QStringLiteral("「%1」不是 UUID。").arg(text));
    }
    return QUuid::fromString(text);
}

QUrl toUrl(const QJsonValue& value) {
    const QString text = toString(value);
    // Tolerant parsing accepts a hand-edited space or non-ASCII letter, as our own writer never
    // produces them; what cannot be a URL at all still fails.
    const QUrl url(text, QUrl::TolerantMode);
    if (text.isEmpty() || !url.isValid()) {
        fail(QStringLiteral("「%1」不是網址。").arg(text));
    }
    return url;
}

Date toDate(const QJsonValue& value) {
    return Date{toDouble(value)};
}

QJsonValue required(const QJsonObject& object, QStringView key) {
    const auto found = object.constFind(key);
    if (found == object.constEnd()) {
        fail(QStringLiteral("缺少 JSON 欄位「%1」。").arg(key.toString()));
    }
    return found.value();
}

std::optional<QJsonValue> optional(const QJsonObject& object, QStringView key) {
    const auto found = object.constFind(key);
    if (found == object.constEnd() || found.value().isNull()) {
        return std::nullopt;
    }
    return found.value();
}

} // namespace json

} // namespace kivo
