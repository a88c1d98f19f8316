#include "domain/KivoLibrary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

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

KivoLibrary KivoLibrary::decoded(const QByteArray& json) {
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

} // namespace kivo
