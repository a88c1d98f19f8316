#include "infrastructure/audio/ExportFiles.h"

#include "domain/AudioOutputFormat.h"
#include "domain/RecordingNames.h"
#include "domain/Text.h"
#include "infrastructure/AudioUnits.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/files/FileOperations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>

namespace kivo::ExportFiles {

namespace {

const QString kSystemSuffix = QStringLiteral("_電腦聲音");
const QString kMicrophoneSuffix = QStringLiteral("_麥克風");

QString newUuidText() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString livePrefix(const RecoveryManifest& manifest) {
    return QStringLiteral(".kivo-") + manifest.id.toString(QUuid::WithoutBraces).toUpper() +
           QLatin1Char('-');
}

} // namespace

std::vector<Output> outputs(const RecordingConfiguration& configuration, const QString& directory) {
    Output merged;
    for (const auto source : kAllAudioSources) {
        const QString path = directory + QLatin1Char('/') + trackFileName(source);
        if (QFileInfo::exists(path)) {
            merged.sources.push_back(source);
            merged.tracks.append(path);
        }
    }
    if (merged.tracks.isEmpty()) {
        return {};
    }
    std::vector<Output> result{merged};
    if (configuration.saveSeparateTracks && merged.tracks.size() >= 2) {
        for (qsizetype i = 0; i < merged.tracks.size(); ++i) {
            const auto source = merged.sources[static_cast<std::size_t>(i)];
            result.push_back({{source},
                              {merged.tracks[i]},
                              source == AudioSource::system ? kSystemSuffix : kMicrophoneSuffix});
        }
    }
    return result;
}

QString outputFolder(const RecordingConfiguration& configuration) {
    return QDir::cleanPath(configuration.outputDirectory.toLocalFile());
}

QStringList finalPaths(const RecoveryManifest& manifest, const std::vector<Output>& outputs) {
    const RecordingConfiguration& configuration = manifest.configuration;
    const QString extension = fileExtension(configuration.format);
    const QString stamp =
        QLatin1Char('_') +
        manifest.startedAt.toDateTime().toLocalTime().toString(QStringLiteral("yyyyMMdd_HHmmss")) +
        QLatin1Char('_') + newUuidText().left(8);
    // The name is cut further where the longest file name of an export would not fit.
    const qsizetype reservedBytes =
        (stamp + QLatin1Char('.') + extension).toUtf8().size() +
        std::max(kSystemSuffix.toUtf8().size(), kMicrophoneSuffix.toUtf8().size());
    const QString name =
        firstCharactersWithinBytes(RecordingNames::safeComponent(configuration.name),
                                   RecordingNames::kMaximumFileNameBytes - reservedBytes);
    // Only a single character heavier than the whole allowance (a letter under a hundred marks)
    // leaves nothing.
    const QString baseName = (name.isEmpty() ? QStringLiteral("錄音") : name) + stamp;
    const QString folder = outputFolder(configuration);
    QStringList paths;
    for (const auto& output : outputs) {
        paths.append(folder + QLatin1Char('/') + baseName + output.suffix + QLatin1Char('.') +
                     extension);
    }
    return paths;
}

QString temporaryPath(const RecordingConfiguration& configuration) {
    return outputFolder(configuration) + QStringLiteral("/.kivo-") + newUuidText() +
           QLatin1Char('.') + fileExtension(configuration.format);
}

QString liveTemporaryPath(const RecoveryManifest& manifest, std::size_t index) {
    return outputFolder(manifest.configuration) + QLatin1Char('/') + livePrefix(manifest) +
           QString::number(index) + QLatin1Char('.') + fileExtension(manifest.configuration.format);
}

void removeLiveLeftovers(const RecoveryManifest& manifest) {
    const QDir folder(outputFolder(manifest.configuration));
    const auto names = folder.entryList({livePrefix(manifest) + QLatin1Char('*')},
                                        QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        QFile::remove(folder.filePath(name));
    }
}

QList<QUrl> place(const QStringList& temporaryPaths, const QStringList& finalPaths,
                  const QString& outputFolder, const FolderSync& syncFolder) {
    QList<QUrl> files;
    for (qsizetype i = 0; i < temporaryPaths.size(); ++i) {
        try {
            // The session folder goes once the record is stored: the file must be on disk
            // first.
            FileOperations::syncFile(temporaryPaths[i]);
            FileOperations::moveWithoutReplacing(temporaryPaths[i], finalPaths[i]);
        } catch (...) {
            for (qsizetype j = i; j < temporaryPaths.size(); ++j) {
                QFile::remove(temporaryPaths[j]);
            }
            throw;
        }
        // Under its final name the file is whole: leaving it out of the record would have
        // recovery write a second copy beside it.
        files.append(QUrl::fromLocalFile(finalPaths[i]));
        try {
            syncFolder(outputFolder);
        } catch (const PlatformError&) {
            // Only the new name may be lost in a crash; the next save forces the folder again.
        }
    }
    return files;
}

RecordingRecord record(const RecoveryManifest& manifest, qint64 frames, const QList<QUrl>& files) {
    const double duration = static_cast<double>(frames) / kWorkingSampleRate;
    RecordingRecord made(manifest.id, manifest.configuration.name, manifest.startedAt, duration,
                         manifest.configuration, files);
    QList<RecordingMarker> markers = manifest.markers;
    for (RecordingMarker& marker : markers) {
        marker.at = std::min(marker.at, duration);
    }
    made.setMarkers(markers);
    return made;
}

} // namespace kivo::ExportFiles
