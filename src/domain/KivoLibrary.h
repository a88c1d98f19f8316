#pragma once

// The library document in memory: the finished recordings (newest first, as the model keeps
// them), the named presets and the default recording configuration.

#include "domain/JsonValue.h"
#include "domain/RecordingConfiguration.h"
#include "domain/RecordingPreset.h"
#include "domain/RecordingRecord.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

namespace kivo {

struct KivoLibrary {
    QList<RecordingRecord> recordings;
    QList<RecordingPreset> presets;
    RecordingConfiguration settings;

    // Empty lists and the default configuration, exporting into `defaultOutputFolder`.
    explicit KivoLibrary(QUrl defaultOutputFolder);

    bool operator==(const KivoLibrary&) const = default;

    // The document as stored: indented, keys sorted.
    QByteArray encoded() const;
    // Throws JsonDecodingError: all three members are required, other members are ignored.
    static KivoLibrary decoded(const QByteArray& json);
};

} // namespace kivo
