#include "infrastructure/audio/SessionExport.h"

#include "domain/KivoError.h"
#include "infrastructure/audio/CafReader.h"
#include "infrastructure/audio/TrackMix.h"
#include "infrastructure/concurrency/ProgressPool.h"

#include <QFile>

#include <algorithm>

namespace kivo::SessionExport {

namespace {

// The frames to export: as given, else the longest track's. Throws KivoError when there is
// nothing to export.
qint64 countFrames(const std::vector<ExportFiles::Output>& outputs, std::optional<qint64> frames) {
    qint64 count = frames.value_or(0);
    if (!frames) {
        for (const auto& path : outputs.empty() ? QStringList() : outputs.front().tracks) {
            count = std::max(count, CafReader(path).length());
        }
    }
    if (outputs.empty() && frames) {
        throw KivoError::message(QStringLiteral("沒有收到可保存的音訊。請確認來源與錄音權限。"));
    }
    if (count < 1 || outputs.empty()) {
        throw KivoError(QStringLiteral("暫存錄音沒有音訊內容。"));
    }
    return count;
}

// Encodes each output into a temporary file of its own, side by side; returns their paths.
// Nothing is left behind when one fails.
QStringList encode(const std::vector<ExportFiles::Output>& outputs, qint64 frames,
                   const RecoveryManifest& manifest, const std::function<void(double)>& progress,
                   int threads) {
    const RecordingConfiguration& configuration = manifest.configuration;
    QStringList paths;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        paths.append(ExportFiles::temporaryPath(configuration));
    }
    try {
        ProgressPool(threads, progress, kProgressStep)
            .run(outputs.size(), frames,
                 [&](std::size_t i, const std::function<void(qint64)>& done) {
                     AudioFiles::exportTracks(outputs[i].tracks, paths[static_cast<qsizetype>(i)],
                                              frames, configuration.format,
                                              configuration.highQuality, done, manifest.markers);
                 });
    } catch (...) {
        for (const auto& path : paths) {
            QFile::remove(path);
        }
        throw;
    }
    return paths;
}

} // namespace

RecordingRecord exportSession(const RecoveryManifest& manifest, const QString& directory,
                              std::optional<qint64> frames,
                              const std::function<void(double)>& progress,
                              const ExportFiles::FolderSync& syncFolder, int threads) {
    const auto outputs = ExportFiles::outputs(manifest.configuration, directory);
    const qint64 frameCount = countFrames(outputs, frames);

    const RecordingConfiguration& configuration = manifest.configuration;
    const QString outputFolder = ExportFiles::outputFolder(configuration);
    FileOperations::makeFolder(outputFolder);
    // What a recording cut short left of the files it wrote while it ran.
    ExportFiles::removeLiveLeftovers(manifest);

    const QStringList temporaryPaths = encode(outputs, frameCount, manifest, progress, threads);
    const QList<QUrl> files = ExportFiles::place(
        temporaryPaths, ExportFiles::finalPaths(manifest, outputs), outputFolder, syncFolder);
    return ExportFiles::record(manifest, frameCount, files);
}

} // namespace kivo::SessionExport
