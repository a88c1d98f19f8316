#include "domain/RecordingRecord.h"

namespace kivo {

RecordingRecord::RecordingRecord(QUuid id, QString name, Date createdAt, double duration,
                                 RecordingConfiguration configuration, QList<QUrl> files)
    : m_id(id)
    , m_name(std::move(name))
    , m_createdAt(createdAt)
    , m_duration(duration)
    , m_configuration(std::move(configuration))
    , m_files(std::move(files)) {}

JsonValue RecordingRecord::toJson() const {
    JsonValue::Array files;
    files.reserve(static_cast<std::size_t>(m_files.size()));
    for (const auto& file : m_files) {
        files.push_back(JsonValue::fromUrl(file));
    }
    JsonValue::Object object;
    object.emplace_back(QStringLiteral("id"), JsonValue::fromUuid(m_id));
    object.emplace_back(QStringLiteral("name"), m_name);
    object.emplace_back(QStringLiteral("createdAt"), JsonValue::fromDate(m_createdAt));
    object.emplace_back(QStringLiteral("duration"), m_duration);
    object.emplace_back(QStringLiteral("configuration"), m_configuration.toJson());
    object.emplace_back(QStringLiteral("files"), std::move(files));
    RecordingMarker::addTo(object, m_markers);
    return object;
}

RecordingRecord RecordingRecord::fromJson(const QJsonValue& json) {
    const QJsonObject object = json::toObject(json);
    const auto files = json::requiredField(object, u"files", [](const QJsonValue& value) {
        QList<QUrl> urls;
        for (const auto& element : json::toArray(value)) {
            urls.append(json::toUrl(element));
        }
        return urls;
    });
    RecordingRecord record(
        json::requiredUuid(object, u"id"), json::requiredString(object, u"name"),
        json::requiredDate(object, u"createdAt"), json::requiredDouble(object, u"duration"),
        json::requiredField(object, u"configuration", &RecordingConfiguration::fromJson), files);
    record.setMarkers(RecordingMarker::listIn(object));
    return record;
}

} // namespace kivo
