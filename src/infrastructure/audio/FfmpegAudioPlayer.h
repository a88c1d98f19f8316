#pragma once

// Plays one audio file (Kivo's .m4a and .wav, and anything else FFmpeg reads) on the sound
// server's default output: FFmpeg decodes it on a thread of its own, libswresample turns it into
// 48 000 Hz stereo float, and the decoder thread writes it into a libpulse playback stream as the
// server asks for more, so at most about kBufferedTime seconds are decoded ahead of what is heard.
//
// Position: what has been heard, from the stream's own clock (libpulse's interpolated playback
// time, which excludes the audio still waiting in the server and stays monotone), never more than
// the audio written. A seek starts a new playback stream at the chosen position: the decoder
// seeks a little before it and drops what precedes it, so the audio starts at that sample.
//
// The end: once the last sample has been played, onFinished() is called and the player is
// back at the start, paused: play() plays the file again from its beginning. A failure of the
// stream, the server or the file calls onFinished(why); afterwards the player stays paused and
// play() and setCurrentTime() do nothing. onFinished is called on the main thread, at most once per
// stretch of playback, and never after the player is destroyed.
//
// Threads: construction, every member and destruction on the main thread (which runs a Qt event
// loop, for the end notice). Destruction is prompt at any moment: it closes the stream and joins
// the decoder thread, which never waits on anything but the stream.

#include "application/PlatformServices.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <thread>

class QObject;
struct pa_operation;
struct pa_stream;

namespace kivo {

class PulseConnection;

class FfmpegAudioPlayer final : public AudioPlayer {
public:
    // Audio the server holds ahead of what is heard, seconds.
    static constexpr double kBufferedTime = 0.1;
    // Decoded and dropped before a seek target, seconds: AAC needs the frame before a sample to
    // decode that sample right.
    static constexpr double kSeekPreroll = 0.1;

    // Opens `path` and prepares a paused stream on `connection` at the start of the file. Throws
    // PlatformError "無法開啟音檔「<path>」：<FFmpeg's text>" for a missing or unreadable file or
    // one without audio, or libpulse's error when the stream cannot be made.
    FfmpegAudioPlayer(std::shared_ptr<PulseConnection> connection, const QString& path);
    ~FfmpegAudioPlayer() override;

    FfmpegAudioPlayer(const FfmpegAudioPlayer&) = delete;
    FfmpegAudioPlayer& operator=(const FfmpegAudioPlayer&) = delete;

    void play() override;
    void pause() override;
    // Pauses; the position stays.
    void stop() override;
    bool isPlaying() const override;
    // Seconds heard from the start of the file, 0…duration().
    double currentTime() const override;
    // Moves to `seconds` (clamped to 0…duration()), keeping playing or paused.
    void setCurrentTime(double seconds) override;
    // Seconds: the file's declared length (its edit list's, for MPEG-4).
    double duration() const override;

private:
    friend struct FfmpegAudioPlayerCallbacks;
    class Decoder;

    // Under the connection's lock.
    void startSegment(double position);
    bool openStream();
    void closeStream();
    double positionLocked() const;
    bool writeSome(const float* samples, qint64 frames, qint64& written);
    // Any thread, under the lock or on the pulse thread: hands the end of the current segment
    // to the main thread, with the failure's description when it broke off.
    void postFinished(std::optional<QString> failure);

    void decodeLoop();
    void finished(const std::optional<QString>& failure, quint64 generation);

    std::shared_ptr<PulseConnection> m_connection;
    std::unique_ptr<Decoder> m_decoder; // the decoder thread's, once it runs
    std::unique_ptr<QObject> m_context; // main thread; the end notices run while it lives
    QPointer<QObject> m_alive;          // to m_context, made on the main thread
    double m_duration = 0.0;            // seconds
    bool m_failed = false;              // main thread

    // Under the connection's lock; written by the main thread only unless noted.
    bool m_playing = false;
    bool m_quit = false;
    quint64 m_generation = 0;     // counts the segments: a seek, the end or a stop starts one
    double m_segmentStart = 0.0;  // seconds: where the current stream starts in the file
    qint64 m_segmentFrames = 0;   // frames written to the current stream (decoder thread)
    bool m_segmentPlayed = false; // play() came since the current stream started
    // The current stream cannot have played more than it was let play: what it played before the
    // last play() and the time since. Its reports can run ahead (PipeWire's, on a loaded machine).
    double m_playedBefore = 0.0;     // seconds
    QElapsedTimer m_playingSince;    // valid while playing
    pa_stream* m_stream = nullptr;   // the current segment's playback stream
    pa_operation* m_drain = nullptr; // the drain of m_stream, once asked for (decoder thread)
    quint64 m_listener = 0;          // of the connection's loss

    std::thread m_thread;
};

} // namespace kivo
