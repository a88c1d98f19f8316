#pragma once

// A session folder's tracks exported whole into the kept files: at a stop whose files written
// while recording failed, and for a recovery.

#include "domain/RecordingRecord.h"
#include "domain/RecoveryManifest.h"
#include "infrastructure/audio/ExportFiles.h"
#include "infrastructure/files/FileOperations.h"

#include <QString>

#include <functional>
#include <optional>

namespace kivo::SessionExport {

// The least growth of the export's fraction between two progress reports: every report crosses
// to the main thread and redraws what shows it, so a hundred are enough.
inline constexpr double kProgressStep = 0.01;

// Exports a session folder into the configuration's output folder and returns its record.
// Without a frame count, the longest track file gives the length. The recording's name is cut so
// that every file name fits in kMaximumFileNameBytes. A file in place under its final name stays
// in the record even when `syncFolder` fails for it. The files are encoded side by side, up to
// `threads` at once (0: one per core). What a recording of the session that was cut short left
// of the files it wrote while it ran is removed first. `progress`, when given, is called on the
// calling thread with the fraction (0…1) of all frames of all the files this export writes that
// are written, each time it has grown by kProgressStep or more, and with 1.0 once the last frame
// is written. Any thread.
RecordingRecord
exportSession(const RecoveryManifest& manifest, const QString& directory,
              std::optional<qint64> frames = std::nullopt,
              const std::function<void(double fraction)>& progress = {},
              const ExportFiles::FolderSync& syncFolder = FileOperations::syncFolder,
              int threads = 0);

} // namespace kivo::SessionExport
