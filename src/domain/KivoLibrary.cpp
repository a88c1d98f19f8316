#include "domain/KivoLibrary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace kivo {

KivoLibrary::KivoLibrary(QUrl defaultOutputFolder)
    : settings(std::move(defaultOutputFolder)) {}

QByteArray KivoLibrary::encoded() const {
    JsonValue::Array records;
    for (const auto& record : recordings) {
        records.push_back(record.toJson());
    }
    JsonValue::Array storedPresets;
    for (const auto& preset : presets) {
        storedPresets.push_back(preset.toJson());
    }
    return writeSortedIndented(JsonValue(JsonValue::Object{
        {QStringLiteral("recordings"), JsonValue(std::move(records))},
        {QStringLiteral("presets"), JsonValue(std::move(storedPresets))},
        {QStringLiteral("settings"), settings.toJson()},
    }));
}

namespace {

// Where the top-level "recordings" array of a library document lies, and each of its elements.
struct RecordingsSpan {
    qsizetype begin = 0;                             // the '['
    qsizetype end = 0;                               // the ']'
    QList<std::pair<qsizetype, qsizetype>> elements; // [first byte, past the last byte)
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Finds the recordings array of a document whose top level is an object holding exactly one
// plainly written "recordings" key. Anything else (other JSON, malformed text, escaped keys) gives
// nothing: the document is then read in one piece, which also reports what is wrong with it.
std::optional<RecordingsSpan> findRecordings(const QByteArray& json) {
    const char* text = json.constData();
    const qsizetype size = json.size();
    qsizetype i = 0;
    while (i < size && isSpace(text[i])) {
        ++i;
    }
    if (i == size || text[i] != '{') {
        return std::nullopt;
    }
    std::optional<RecordingsSpan> found;
    int depth = 0;
    bool expectKey = false;
    qsizetype keyStart = -1;
    bool recordingsNext = false; // the value after this key is the recordings array
    bool inRecordings = false;
    qsizetype elementStart = -1;
    const auto endElement = [&](qsizetype at) {
        qsizetype last = at;
        while (last > elementStart && isSpace(text[last - 1])) {
            --last;
        }
        if (elementStart >= 0 && last > elementStart) {
            found->elements.append({elementStart, last});
        }
        elementStart = -1;
    };
    for (; i < size; ++i) {
        const char c = text[i];
        if (c == '"') {
            const qsizetype open = i;
            bool escaped = false;
            for (++i; i < size && text[i] != '"'; ++i) {
                if (text[i] == '\\') {
                    escaped = true;
                    ++i;
                }
            }
            if (i >= size) {
                return std::nullopt;
            }
            if (depth == 1 && expectKey) {
                if (escaped) {
                    return std::nullopt;
                }
                keyStart = open + 1;
                expectKey = false;
                if (QByteArrayView(text + keyStart, i - keyStart) == "recordings") {
                    if (found) {
                        return std::nullopt; // twice
                    }
                    recordingsNext = true;
                }
            } else if (inRecordings && depth == 2 && elementStart < 0) {
                elementStart = open;
            }
            continue;
        }
        if (isSpace(c) || c == ':') {
            continue;
        }
        if (inRecordings && depth == 2 && elementStart < 0 && c != ',' && c != ']') {
            elementStart = i;
        }
        if (c == '{' || c == '[') {
            if (depth == 1 && recordingsNext) {
                if (c != '[') {
                    return std::nullopt;
                }
                found = RecordingsSpan{i, 0, {}};
                inRecordings = true;
                recordingsNext = false;
            }
            ++depth;
            expectKey = depth == 1;
        } else if (c == '}' || c == ']') {
            if (inRecordings && depth == 2) {
                endElement(i);
                found->end = i;
                inRecordings = false;
            }
            --depth;
            if (depth < 0) {
                return std::nullopt;
            }
        } else if (c == ',') {
            if (depth == 1) {
                expectKey = true;
                recordingsNext = false;
            } else if (inRecordings && depth == 2) {
                endElement(i);
            }
        } else if (depth == 1 && recordingsNext) {
            return std::nullopt; // a scalar where the array should be
        }
    }
    if (depth != 0 || !found || found->end == 0) {
        return std::nullopt;
    }
    return found;
}

KivoLibrary decodedWhole(const QByteArray& json) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        throw JsonDecodingError(QStringLiteral("不是有效的 JSON：") + parseError.errorString());
    }
    const QJsonObject object =
        json::toObject(document.isObject() ? QJsonValue(document.object()) : QJsonValue());
    const auto decodeList = [&](QStringView key, auto decodeOne) {
        return json::requiredField(object, key, [&](const QJsonValue& value) {
            QList<decltype(decodeOne(QJsonValue()))> list;
            for (const QJsonValue& element : json::toArray(value)) {
                list.append(decodeOne(element));
            }
            return list;
        });
    };
    KivoLibrary library(QUrl{});
    library.recordings = decodeList(u"recordings", RecordingRecord::fromJson);
    library.presets = decodeList(u"presets", RecordingPreset::fromJson);
    library.settings = json::requiredField(object, u"settings", RecordingConfiguration::fromJson);
    return library;
}

// The records of `elements` of `json`; nothing when any fails. They are read a few hundred at a
// time, so that the text's parsed form, several times the size of the text, is small and used
// again for the next few hundred instead of left between the records in memory.
std::optional<QList<RecordingRecord>>
decodedRecords(const QByteArray& json, std::span<const std::pair<qsizetype, qsizetype>> elements) {
    constexpr std::size_t kBatch = 256;
    QList<RecordingRecord> records;
    records.reserve(qsizetype(elements.size()));
    QByteArray array;
    for (std::size_t start = 0; start < elements.size(); start += kBatch) {
        array.clear();
        array.append('[');
        for (const auto& [first, past] :
             elements.subspan(start, std::min(kBatch, elements.size() - start))) {
            if (array.size() > 1) {
                array.append(',');
            }
            array.append(json.constData() + first, past - first);
        }
        array.append(']');
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(array, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
            return std::nullopt;
        }
        try {
            for (const QJsonValue& element : document.array()) {
                records.append(RecordingRecord::fromJson(element));
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    return records;
}

} // namespace

KivoLibrary KivoLibrary::decoded(const QByteArray& json) {
    // A library of thousands of records is read in pieces side by side, one per core: reading
    // was most of the window's start. Whatever the pieces do not manage (bad text, a bad record)
    // is read again whole, which says what is wrong exactly as it always did.
    constexpr qsizetype kPieceRecords = 512;
    const std::optional<RecordingsSpan> span = findRecordings(json);
    const auto cores = std::max(1U, std::min(4U, std::thread::hardware_concurrency()));
    if (!span || span->elements.size() < 2 * kPieceRecords || cores < 2) {
        return decodedWhole(json);
    }
    QByteArray rest = json.left(span->begin);
    rest.append("[]");
    rest.append(json.constData() + span->end + 1, json.size() - span->end - 1);
    KivoLibrary library = decodedWhole(rest); // presets, settings, and the keys' presence

    const std::span<const std::pair<qsizetype, qsizetype>> all(span->elements.constData(),
                                                               std::size_t(span->elements.size()));
    const std::size_t pieces = std::min<std::size_t>(cores, all.size() / kPieceRecords);
    std::vector<std::optional<QList<RecordingRecord>>> results(pieces);
    std::vector<std::thread> helpers;
    for (std::size_t piece = 0; piece < pieces; ++piece) {
        const std::size_t first = all.size() * piece / pieces;
        const std::size_t past = all.size() * (piece + 1) / pieces;
        auto work = [&json, &results, piece, part = all.subspan(first, past - first)] {
            results[piece] = decodedRecords(json, part);
        };
        if (piece + 1 < pieces) {
            helpers.emplace_back(work);
        } else {
            work();
        }
    }
    for (std::thread& helper : helpers) {
        helper.join();
    }
    library.recordings.reserve(span->elements.size());
    for (const auto& result : results) {
        if (!result) {
            return decodedWhole(json);
        }
        library.recordings.append(*result);
    }
    return library;
}

} // namespace kivo
