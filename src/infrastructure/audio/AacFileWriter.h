#pragma once

// An MPEG-4 audio file (.m4a) holding 48 000 Hz stereo AAC-LC from FFmpeg's own AAC encoder at
// a fixed bit rate, stored by Mp4AudioWriter. The file declares through its edit list which
// decoded samples belong to the audio, so the encoder's delay and padding disappear in every
// player that honours it: the decoded length equals the number of frames written.

#include "infrastructure/audio/AudioFileWriter.h"

#include <memory>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace kivo {

class Mp4AudioWriter;

class AacFileWriter final : public AudioFileWriter {
public:
    static constexpr qint64 kStandardBitRate = 128000; // bit/s
    static constexpr qint64 kHighBitRate = 256000;     // bit/s
    // Samples per frame of FFmpeg's AAC-LC encoder. Audio of a whole number of frames needs no
    // padding at either end, so its length does not depend on `expectedFrames`.
    static constexpr qint64 kFrameSamples = 1024;

    // Creates (or truncates) the file at `path` and writes its header. `bitRate` in bit/s.
    // `expectedFrames` is the number of frames that will be written: silence is put before the
    // audio so that the last encoder frame ends exactly with it, and the edit list skips that
    // silence together with the encoder delay. Decoders that trim only the start of a file
    // (FFmpeg does) then still decode exactly the frames written. Any other number of frames
    // gives a correct file too. Throws PlatformError.
    AacFileWriter(const QString& path, qint64 bitRate, qint64 expectedFrames);
    ~AacFileWriter() override;

    void write(const float* left, const float* right, qint64 frames) override;
    void finish() override;

private:
    struct CodecDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };

    [[noreturn]] void fail(const QString& what, int error) const;
    // Sends the filled part of m_frame to the encoder, or flushes it when `frame` is null, and
    // appends every packet that comes out to the file.
    void encode(AVFrame* frame);
    void sendFilledFrame();

    QString m_path;
    std::unique_ptr<AVCodecContext, CodecDeleter> m_codec;
    std::unique_ptr<AVFrame, FrameDeleter> m_frame;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    std::unique_ptr<Mp4AudioWriter> m_file;
    int m_frameSize = 0;   // samples per encoder frame
    int m_leading = 0;     // samples of silence before the audio
    int m_filled = 0;      // samples already in m_frame
    qint64 m_framePts = 0; // time of m_frame's first sample, in samples
    qint64 m_written = 0;  // frames written by the caller
    bool m_finished = false;
};

} // namespace kivo
