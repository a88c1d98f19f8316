#pragma once

// A named copy of a recording configuration that the user can apply again later.

#include "domain/JsonValue.h"
#include "domain/RecordingConfiguration.h"

#include <QJsonValue>
#include <QString>
#include <QUuid>

namespace kivo {

struct RecordingPreset {
    // Identity in the preset list.
    QUuid id;
    QString name;
    RecordingConfiguration configuration;

    // A new preset with a fresh random (version 4) id.
    RecordingPreset(QString name, RecordingConfiguration configuration);
    RecordingPreset(QUuid id, QString name, RecordingConfiguration configuration);

    bool operator==(const RecordingPreset&) const = default;

    JsonValue toJson() const;
    // Throws JsonDecodingError.
    static RecordingPreset fromJson(const QJsonValue& json);
};

} // namespace kivo
