#pragma once

// The temporary recording of one source: captured fragments (and buffers of any format, converted
// to the working format) are multiplied by the source's gain and written into the source's track
// file at the frame of their timeline time; the fragments' interleaved layout is the file's. Gaps
// become silence; audio that would land before the end of the file is dropped, so the file never
// rewinds. Frame n of every track is timeline time n / 48 000 s.
//
// Not thread-safe and without locks: the session writer uses it on its queue only, except for
// syncToDisk().

#include "infrastructure/audio/AudioFragment.h"
#include "infrastructure/audio/CafWriter.h"
#include "infrastructure/audio/PcmBuffer.h"
#include "infrastructure/audio/SampleConverter.h"

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

namespace kivo {

class AudioTrack {
public:
    // Creates the track file (which must not exist yet). Throws PlatformError.
    explicit AudioTrack(const QString& path);
    ~AudioTrack();
    AudioTrack(const AudioTrack&) = delete;
    AudioTrack& operator=(const AudioTrack&) = delete;

    // Writes a buffer at timeline time `at` (seconds; negative or not a number counts as 0)
    // multiplied by `gain`, and returns the peak absolute sample written, at most 1.0; 0.0 when
    // nothing was written. A buffer of a new format rebuilds the converter; working-format
    // buffers need none. Throws KivoError ("此音訊格式無法轉換。") for a format that cannot be
    // converted and PlatformError when converting or writing fails; the counters then stay as
    // they were.
    float append(const PcmBuffer& buffer, TimelineSeconds at, float gain);
    // The same for captured audio (its host time is not used). Throws PlatformError.
    float append(const AudioFragment& fragment, TimelineSeconds at, float gain);

    // Appends silence until position() reaches `toFrame`, in writes of at most 4096 frames.
    // Does nothing when closed or already there. Throws PlatformError; position() then counts
    // the silence written before the failure.
    void pad(qint64 toFrame);

    // Finishes the file and releases it and the converter. Idempotent. Throws PlatformError; the
    // track is closed even then.
    void close();

    bool isClosed() const { return m_file == nullptr; }
    // Frames of audio written (silence not counted).
    qint64 receivedFrames() const { return m_receivedFrames; }
    // Frames in the file, audio and silence: where the next write lands.
    qint64 position() const { return m_position; }
    const QString& path() const { return m_path; }
    // The format of the latest buffers (the converter's input when they need one); empty before
    // the first buffer.
    const std::optional<PcmFormat>& inputFormat() const { return m_inputFormat; }

    // Flushes the file's data to the disk (fdatasync). Safe from any thread while the owner
    // appends, but it must not overlap close() or the destruction: a thread that flushes tracks
    // stops before they are closed. Does nothing once closed. Throws PlatformError.
    void syncToDisk();

    // The most frames written by one silence write.
    static constexpr qint64 kSilenceChunkFrames = 4096;

private:
    QString m_path;
    std::unique_ptr<CafWriter> m_file;
    std::unique_ptr<SampleConverter> m_converter;
    std::optional<PcmFormat> m_inputFormat;
    qint64 m_receivedFrames = 0;
    qint64 m_position = 0;
    std::vector<float> m_interleaved; // the gained frames of each append, reused
    std::vector<float> m_unpacked;    // a planar buffer's frames, interleaved, reused
};

} // namespace kivo
