#include "domain/RecordingPreset.h"

namespace kivo {

RecordingPreset::RecordingPreset(QString presetName, RecordingConfiguration presetConfiguration)
    : RecordingPreset(QUuid::createUuid(), std::move(presetName), std::move(presetConfiguration)) {}

RecordingPreset::RecordingPreset(QUuid presetID, QString presetName,
                                 RecordingConfiguration presetConfiguration)
    : id(presetID)
    , name(std::move(presetName))
    , configuration(std::move(presetConfiguration)) {}

JsonValue RecordingPreset::toJson() const {
    JsonValue::Object object;
    object.emplace_back(QStringLiteral("id"), JsonValue::fromUuid(id));
    object.emplace_back(QStringLiteral("name"), name);
    object.emplace_back(QStringLiteral("configuration"), configuration.toJson());
    return object;
}

RecordingPreset RecordingPreset::fromJson(const QJsonValue& json) {
    const QJsonObject object = json::toObject(json);
    return RecordingPreset(
        json::requiredUuid(object, u"id"), json::requiredString(object, u"name"),
        json::requiredField(object, u"configuration", &RecordingConfiguration::fromJson));
}

} // namespace kivo
