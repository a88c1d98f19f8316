#include "domain/RecoveryManifest.h"

#include "domain/JsonValue.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace kivo {

RecoveryManifest::RecoveryManifest(QUuid sessionId, Date start, RecordingConfiguration recorded)
    : id(sessionId)
    , startedAt(start)
    , configuration(std::move(recorded)) {}

QByteArray RecoveryManifest::encoded() const {
    JsonValue::Object object{
        {QStringLiteral("id"), JsonValue::fromUuid(id)},
        {QStringLiteral("startedAt"), JsonValue::fromDate(startedAt)},
        {QStringLiteral("configuration"), configuration.toJson()},
    };
    if (exported) {
        object.emplace_back(QStringLiteral("exported"), exported->toJson());
    }
    RecordingMarker::addTo(object, markers);
    return writeCompact(JsonValue(std::move(object)));
}

RecoveryManifest RecoveryManifest::decoded(const QByteArray& json) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        throw JsonDecodingError(QStringLiteral("session.json 不是有效的 JSON：") +
                                parseError.errorString());
    }
    const QJsonObject object =
        json::toObject(document.isObject() ? QJsonValue(document.object()) : QJsonValue());
    RecoveryManifest manifest(
        json::requiredUuid(object, u"id"), json::requiredDate(object, u"startedAt"),
        json::requiredField(object, u"configuration", RecordingConfiguration::fromJson));
    manifest.exported = json::optionalField(object, u"exported", RecordingRecord::fromJson);
    manifest.markers = RecordingMarker::listIn(object);
    return manifest;
}

} // namespace kivo
