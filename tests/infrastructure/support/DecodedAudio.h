#pragma once

// Exported audio files read back for tests: every frame as float, with what the file says about
// itself, through FFmpeg (as a player decodes it), libsndfile, or a plain reading of the WAV
// bytes that trusts neither.

#include <QString>
#include <QtGlobal>

#include <vector>

namespace kivo::test {

struct DecodedAudio {
    QString error; // empty when the file was read
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> left;
    std::vector<float> right;

    // FFmpeg only: the codec's name, the bit rate the container states (bit/s), and the
    // stream's length after its edit list, in samples (−1 when the file states none).
    QString codec;
    qint64 bitRate = 0;
    qint64 declaredFrames = -1;

    // libsndfile only: its SF_FORMAT_* value (major format | subtype).
    int sndfileFormat = 0;

    qint64 frames() const { return static_cast<qint64>(left.size()); }
};

// Decodes the first audio stream with libavformat and libavcodec, skipping the samples that the
// file declares as encoder delay, as players built on FFmpeg do.
DecodedAudio decodeWithFfmpeg(const QString& path);

// Reads a sound file with libsndfile, samples scaled to −1.0…1.0.
DecodedAudio readWithSndfile(const QString& path);

// The fmt and data chunks of a RIFF WAVE file, read byte by byte.
struct WavContents {
    QString error; // empty when the file is a RIFF WAVE file with fmt and data chunks
    int formatTag = 0;
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    std::vector<qint32> samples; // interleaved, little-endian integers sign-extended
};

WavContents readWavBytes(const QString& path);

} // namespace kivo::test
