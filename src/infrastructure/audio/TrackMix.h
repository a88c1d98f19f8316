#pragma once

// The mix of a recording's track files into an audio file the user keeps: a stretch at a time
// while the tracks are written (TrackMix), or whole (exportTracks).

#include "domain/AudioOutputFormat.h"
#include "domain/RecordingMarker.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

namespace kivo::AudioFiles {

// Frames mixed per step of the export.
inline constexpr qint64 kExportChunkFrames = 4096;

// The export of tracks to one file: mixes the CAF track files `tracks` (working format, all on
// the same timeline) into `destination` as AAC (.m4a) or WAV, `frames` frames long. The tracks
// are summed frame by frame and the sum is clipped to −1.0…1.0; a track shorter than `frames`
// contributes silence after its end, and frames past `frames` are not read. `highQuality` picks
// 256 000 bit/s over 128 000 bit/s for AAC and 24-bit over 16-bit samples for WAV.
// Streams in chunks of kExportChunkFrames: memory use does not depend on the length.
// Throws KivoError when `frames` is below 1 or `tracks` is empty, PlatformError when a track
// cannot be opened or read or the destination cannot be created or written; after a failure the
// destination may hold an incomplete file, which the caller removes. `progress`, when given, is
// called on the calling thread after every chunk with the frames written so far (`frames` after
// the last). `markers` go into the file where its format allows. Any thread.
void exportTracks(const QStringList& tracks, const QString& destination, qint64 frames,
                  AudioOutputFormat format, bool highQuality,
                  const std::function<void(qint64 framesWritten)>& progress = {},
                  const QList<RecordingMarker>& markers = {});

// The mix of exportTracks() done a stretch at a time, also while the track files are still
// being written: each stretch is summed and clipped as exportTracks() does, so the file written
// is the same however the frames are cut into stretches. Not thread-safe; any one thread.
class TrackMix {
public:
    // Opens the tracks and creates `destination` (see AudioFileWriter::create; 0 expected
    // frames when the length is not known yet). Throws PlatformError.
    TrackMix(const QStringList& tracks, const QString& destination, AudioOutputFormat format,
             bool highQuality, qint64 expectedFrames);
    ~TrackMix();
    TrackMix(const TrackMix&) = delete;
    TrackMix& operator=(const TrackMix&) = delete;

    // Mixes and writes the frames from written() up to `frame`. `trackEnds`, when given, holds
    // per track the frames its file holds (for files still being written: frames in place);
    // without it, a track ends where its file ends. A track contributes silence after its end.
    // Throws PlatformError; `progress` as in exportTracks().
    void mixUpTo(qint64 frame, const std::vector<qint64>& trackEnds = {},
                 const std::function<void(qint64 framesWritten)>& progress = {});
    // Completes the file, with `markers` where its format allows. Throws PlatformError.
    void finish(const QList<RecordingMarker>& markers = {});

    qint64 written() const { return m_written; }

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
    qint64 m_written = 0;
};

} // namespace kivo::AudioFiles
