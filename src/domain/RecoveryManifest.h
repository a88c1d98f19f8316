#pragma once

// The recovery manifest "session.json" of a session folder: who the session is, when it began,
// how it was configured and, once exported, the record of the export. With the track files beside
// it, it is everything recovery needs after a crash.

#include "domain/Date.h"
#include "domain/RecordingConfiguration.h"
#include "domain/RecordingRecord.h"

#include <QByteArray>
#include <QUuid>

#include <optional>

namespace kivo {

struct RecoveryManifest {
    RecoveryManifest(QUuid sessionId, Date start, RecordingConfiguration recorded);

    QUuid id;       // also the session folder's name and the exported record's id
    Date startedAt; // wall clock; names the exported files, becomes the record's creation date
    RecordingConfiguration configuration;
    std::optional<RecordingRecord> exported; // absent until an export completed
    QList<RecordingMarker> markers;          // added while recording, in time order

    bool operator==(const RecoveryManifest&) const = default;

    // Compact JSON, keys in field order, "exported" left out while absent, "markers" while empty.
    QByteArray encoded() const;
    // Throws JsonDecodingError: "id", "startedAt" and "configuration" are required, "exported"
    // and "markers" are optional (null reads as absent), other keys are ignored.
    static RecoveryManifest decoded(const QByteArray& json);
};

} // namespace kivo
