#pragma once

// The files a recording is saved as, shared by the export from the track files (at the stop,
// as a fallback, and by recovery) and by the export written while recording: which files there
// are, what they are called, and how they reach their final names.
//
// Every file is written under a temporary name beginning with ".kivo-" in the output folder and
// renamed once complete. The files written while recording carry the session's id in their
// temporary names (`liveTemporaryPath`), so that whatever a crash leaves of them can be found
// and removed when the session is exported from its tracks.

#include "domain/RecordingRecord.h"
#include "domain/RecoveryManifest.h"
#include "infrastructure/audio/AudioSource.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <vector>

namespace kivo::ExportFiles {

// One file of the export: the tracks mixed into it and the suffix of its name.
struct Output {
    std::vector<AudioSource> sources;
    QStringList tracks; // their track files
    QString suffix;     // empty for the merged file, else "_電腦聲音" or "_麥克風"
};

// The merged file of every track file present in `directory` (system first), then one file per
// source when the configuration asks for separate tracks and there are two. Empty when no track
// file is present.
std::vector<Output> outputs(const RecordingConfiguration& configuration, const QString& directory);

// The output folder (no trailing slash) of a configuration.
QString outputFolder(const RecordingConfiguration& configuration);

// The final path of every output, in order, for one export: the recording's name cut so that
// the longest of them fits in RecordingNames::kMaximumFileNameBytes, the start date, a short
// random id and the suffix.
QStringList finalPaths(const RecoveryManifest& manifest, const std::vector<Output>& outputs);

// A temporary path in the output folder for the export from the tracks.
QString temporaryPath(const RecordingConfiguration& configuration);
// The temporary path of output `index` written while recording session `manifest`.
QString liveTemporaryPath(const RecoveryManifest& manifest, std::size_t index);
// Removes what is left in the output folder of the files written while recording the session.
// Never throws.
void removeLiveLeftovers(const RecoveryManifest& manifest);

using FolderSync = std::function<void(const QString& path)>;

// Forces each complete temporary file to disk and renames it to its final path, in order, never
// replacing a file, and forces the folder's entries to disk after each. Returns the final
// paths of the files in place: a file under its final name stays in the record even when
// forcing the folder fails. Throws PlatformError when a file cannot be synced or renamed; the
// temporary files not yet renamed are removed then.
QList<QUrl> place(const QStringList& temporaryPaths, const QStringList& finalPaths,
                  const QString& outputFolder, const FolderSync& syncFolder);

// The record of an export of `frames` frames, with the manifest's markers (none past its end).
RecordingRecord record(const RecoveryManifest& manifest, qint64 frames, const QList<QUrl>& files);

} // namespace kivo::ExportFiles
