#pragma once

// One finished recording as the library keeps it: its name, when it was made, how long it is, the
// configuration it was made with, the exported files and the markers. Only the name and the
// markers change after creation.

#include "domain/Date.h"
#include "domain/JsonValue.h"
#include "domain/RecordingConfiguration.h"
#include "domain/RecordingMarker.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

namespace kivo {

class RecordingRecord {
public:
    // `duration` in seconds; `files` in the order the export produced them.
    RecordingRecord(QUuid id, QString name, Date createdAt, double duration,
                    RecordingConfiguration configuration, QList<QUrl> files);

    // Identity in lists, playback, rename and trash.
    const QUuid& id() const { return m_id; }
    const QString& name() const { return m_name; }
    Date createdAt() const { return m_createdAt; }
    // Seconds.
    double duration() const { return m_duration; }
    const RecordingConfiguration& configuration() const { return m_configuration; }
    const QList<QUrl>& files() const { return m_files; }
    // In time order.
    const QList<RecordingMarker>& markers() const { return m_markers; }

    void setName(QString name) { m_name = std::move(name); }
    void setMarkers(QList<RecordingMarker> markers) { m_markers = std::move(markers); }

    // Every field, the files and markers element by element in order.
    bool operator==(const RecordingRecord&) const = default;

    JsonValue toJson() const;
    // Throws JsonDecodingError.
    static RecordingRecord fromJson(const QJsonValue& json);

private:
    QUuid m_id;
    QString m_name;
    Date m_createdAt;
    double m_duration = 0;
    RecordingConfiguration m_configuration;
    QList<QUrl> m_files;
    QList<RecordingMarker> m_markers;
};

} // namespace kivo
