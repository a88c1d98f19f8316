#pragma once

// An exported audio file being written: stereo 48 000 Hz audio goes in as planar float samples
// and comes out as AAC in an MPEG-4 audio file or as integer WAV. The export streams its mix
// through one of these.

#include "domain/AudioOutputFormat.h"
#include "domain/RecordingMarker.h"

#include <QString>
#include <QtGlobal>

#include <memory>

namespace kivo {

class AudioFileWriter {
public:
    virtual ~AudioFileWriter() = default;

    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // Appends `frames` frames; `left` and `right` each hold `frames` samples in −1.0…1.0 at
    // 48 000 Hz. Throws PlatformError when the file cannot be written.
    virtual void write(const float* left, const float* right, qint64 frames) = 0;
    // Writes what is still buffered and completes the file on disk; nothing may be written
    // afterwards. Throws PlatformError. A writer destroyed without finish() releases its
    // resources and leaves an incomplete file for the caller to remove.
    virtual void finish() = 0;

    // The markers the file carries where its format allows: chapters in an MPEG-4 file, cue
    // points with labels in a WAV file. Set before finish(); in time order.
    void setMarkers(QList<RecordingMarker> markers) { m_markers = std::move(markers); }

    // Creates the file at `path` for `format`: AAC at 256 000 bit/s (high quality) or
    // 128 000 bit/s, or WAV with 24-bit (high quality) or 16-bit samples. `expectedFrames` is the
    // number of frames the caller is going to write; an AAC file uses it to place the encoder's
    // padding where every decoder trims it, a WAV file to choose RF64 for audio longer than
    // RIFF allows. Throws PlatformError when the file or the encoder
    // cannot be set up.
    static std::unique_ptr<AudioFileWriter> create(const QString& path, AudioOutputFormat format,
                                                   bool highQuality, qint64 expectedFrames);

protected:
    AudioFileWriter() = default;

    QList<RecordingMarker> m_markers;
};

} // namespace kivo
