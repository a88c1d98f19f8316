#pragma once

// A WAV file of 48 000 Hz stereo audio with 16- or 24-bit little-endian integer samples,
// interleaved, written through libsndfile (RF64 when longer than RIFF can describe). Float samples
// map −1.0…1.0 onto the whole integer range (−1.0 becomes the lowest value, 1.0 the highest);
// anything beyond is clipped. Markers become cue points ('cue ') with their labels in an
// associated data list ('LIST' 'adtl', one 'labl' each), appended after the audio.

#include "infrastructure/audio/AudioFileWriter.h"

#include <memory>
#include <vector>

struct sf_private_tag;

namespace kivo {

class WavFileWriter final : public AudioFileWriter {
public:
    static constexpr int kStandardBitDepth = 16;
    static constexpr int kHighBitDepth = 24;

    // Creates (or truncates) the file at `path`; `bitDepth` is 16 or 24. `expectedFrames`, the
    // number of frames that will be written, decides between RIFF WAVE and, for audio too long
    // for RIFF's 32-bit sizes, RF64. Throws PlatformError.
    WavFileWriter(const QString& path, int bitDepth, qint64 expectedFrames);
    ~WavFileWriter() override;

    void write(const float* left, const float* right, qint64 frames) override;
    void finish() override;

    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;

    // The file under libsndfile: written through Kivo's own calls so that a failure keeps the
    // system's reason (errno), which libsndfile reports only as English text.
    struct Output;

private:
    // "<what> <path>：<why>", the why from the failed call's errno when there was one.
    QString failure(const QString& what, const QString& libraryText) const;
    // Appends the markers' chunks to the closed-by-libsndfile file and corrects the RIFF size.
    void appendMarkers();

    QString m_path;
    std::unique_ptr<Output> m_output;
    sf_private_tag* m_file = nullptr;
    // Interleaved samples of the write in progress; grows to the largest write and stays.
    std::vector<float> m_interleaved;
    bool m_rf64 = false;
    qint64 m_frames = 0; // written so far
};

} // namespace kivo
