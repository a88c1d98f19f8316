// The record decoder on whatever JSON the bytes parse to. A record it accepts is written again,
// and that text must read back and write to itself (the first writing may normalise a
// hand-edited value, such as a URL read tolerantly).

#include "FuzzCheck.h"

#include "domain/JsonValue.h"
#include "domain/RecordingRecord.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <cstddef>
#include <cstdint>

namespace {

QJsonValue parsed(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (document.isObject()) {
        return document.object();
    }
    if (document.isArray()) {
        return document.array();
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const QByteArray written =
            kivo::writeCompact(kivo::RecordingRecord::fromJson(parsed(bytes)).toJson());
        kivo::fuzz::expect(
            kivo::writeCompact(kivo::RecordingRecord::fromJson(parsed(written)).toJson()) ==
                written,
            "a written record reads back to the same text");
    } catch (const kivo::JsonDecodingError&) {
        // Refused as documented.
    }
    return 0;
}
