#include "infrastructure/audio/FfmpegAudioPlayer.h"

#include "application/MainThread.h"
#include "infrastructure/AudioUnits.h"
#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/FfmpegLog.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <QObject>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace kivo {

namespace {

constexpr int kRate = kSampleRateHz;
constexpr int kChannels = 2;
constexpr qint64 kBytesPerFrame = kChannels * static_cast<qint64>(sizeof(float));
constexpr qint64 kUnknown = std::numeric_limits<qint64>::min();

const QString kStreamFailed = QStringLiteral("無法開始播放音檔");
const QString kPlaybackBroke = QStringLiteral("播放中斷");

qint64 framesOf(double seconds) {
    return std::llround(seconds * kRate);
}

double secondsSince(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

} // namespace

// The file's demuxer, decoder and resampler. Opened on the main thread, then used only by the
// decoder thread.
class FfmpegAudioPlayer::Decoder {
public:
    explicit Decoder(const QString& path)
        : m_path(path) {
        FfmpegLog::install();
        const auto name = path.toUtf8();
        check(avformat_open_input(&m_format, name.constData(), nullptr, nullptr));
        check(avformat_find_stream_info(m_format, nullptr));
        const AVCodec* codec = nullptr;
        m_index = av_find_best_stream(m_format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        check(m_index);
        const AVStream* stream = m_format->streams[m_index];
        m_codec = avcodec_alloc_context3(codec);
        if (m_codec == nullptr) {
            check(AVERROR(ENOMEM));
        }
        check(avcodec_parameters_to_context(m_codec, stream->codecpar));
        // Lets the decoder move a frame's time stamp past the samples it trims from the start.
        m_codec->pkt_timebase = stream->time_base;
        check(avcodec_open2(m_codec, codec, nullptr));
        m_packet = av_packet_alloc();
        m_frame = av_frame_alloc();
        if (m_packet == nullptr || m_frame == nullptr) {
            check(AVERROR(ENOMEM));
        }
        m_timeBase = av_q2d(stream->time_base);
        m_startPts = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
            m_duration = static_cast<double>(stream->duration) * m_timeBase;
        } else if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0) {
            m_duration = static_cast<double>(m_format->duration) / AV_TIME_BASE;
        }
        m_durationFrames = m_duration > 0.0 ? framesOf(m_duration) : -1;
        m_nextFrame = 0;
    }

    ~Decoder() {
        swr_free(&m_resampler);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
    }

    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Seconds, 0 when the file does not say.
    double duration() const { return m_duration; }

    // Goes to `seconds`: the next audio produced starts there.
    void seek(double seconds) {
        m_target = framesOf(seconds);
        const double from = std::max(0.0, seconds - kSeekPreroll);
        const auto timestamp = m_startPts + static_cast<qint64>(std::floor(from / m_timeBase));
        const int result = av_seek_frame(m_format, m_index, timestamp, AVSEEK_FLAG_BACKWARD);
        if (result < 0) {
            throw failure(result);
        }
        avcodec_flush_buffers(m_codec);
        swr_free(&m_resampler);
        m_nextFrame = kUnknown;
        m_ended = false;
    }

    // Replaces `out` with the next interleaved 48 000 Hz stereo frames, from the target on and
    // within the duration. False, with `out` possibly holding the last frames, at the end.
    // Throws PlatformError when the file cannot be read.
    bool produce(std::vector<float>& out) {
        out.clear();
        while (out.empty() && !m_ended) {
            int result = avcodec_receive_frame(m_codec, m_frame);
            if (result == 0) {
                convert(m_frame, out);
                av_frame_unref(m_frame);
                continue;
            }
            if (result == AVERROR_EOF) {
                convert(nullptr, out);
                m_ended = true;
                break;
            }
            if (result != AVERROR(EAGAIN)) {
                throw failure(result);
            }
            result = av_read_frame(m_format, m_packet);
            if (result == AVERROR_EOF) {
                avcodec_send_packet(m_codec, nullptr);
                continue;
            }
            if (result < 0) {
                throw failure(result);
            }
            if (m_packet->stream_index == m_index) {
                result = avcodec_send_packet(m_codec, m_packet);
                // A damaged packet is skipped, as players do; the rest still plays.
                if (result < 0 && result != AVERROR_INVALIDDATA) {
                    av_packet_unref(m_packet);
                    throw failure(result);
                }
            }
            av_packet_unref(m_packet);
        }
        return !m_ended;
    }

private:
    void check(int result) const {
        if (result < 0) {
            throw failure(result);
        }
    }

    PlatformError failure(int error) const {
        return PlatformError(QStringLiteral("無法開啟音檔「%1」：").arg(m_path) +
                             FfmpegLog::describe(error));
    }

    // Resamples `frame` (or what the resampler still holds, for null) and appends the frames
    // between the target and the end of the file.
    void convert(const AVFrame* frame, std::vector<float>& out) {
        if (frame != nullptr && m_resampler == nullptr) {
            AVChannelLayout input{};
            if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
                av_channel_layout_default(&input, frame->ch_layout.nb_channels);
            } else {
                check(av_channel_layout_copy(&input, &frame->ch_layout));
            }
            AVChannelLayout output = AV_CHANNEL_LAYOUT_STEREO;
            const int result = swr_alloc_set_opts2(
                &m_resampler, &output, AV_SAMPLE_FMT_FLT, kRate, &input,
                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&input);
            check(result);
            check(swr_init(m_resampler));
        }
        if (m_resampler == nullptr) {
            return;
        }
        if (frame != nullptr && m_nextFrame == kUnknown) {
            const auto pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                 ? frame->best_effort_timestamp
                                 : frame->pts;
            m_nextFrame = pts == AV_NOPTS_VALUE
                              ? m_target
                              : framesOf(static_cast<double>(pts - m_startPts) * m_timeBase);
        }
        const int inputFrames = frame == nullptr ? 0 : frame->nb_samples;
        const int capacity = swr_get_out_samples(m_resampler, inputFrames);
        if (capacity <= 0) {
            return;
        }
        m_converted.resize(static_cast<std::size_t>(capacity) * kChannels);
        auto* target = reinterpret_cast<uint8_t*>(m_converted.data());
        const int produced = swr_convert(
            m_resampler, &target, capacity,
            frame == nullptr ? nullptr : const_cast<const uint8_t**>(frame->extended_data),
            inputFrames);
        check(produced);
        qint64 first = std::max<qint64>(0, m_target - m_nextFrame);
        qint64 last = produced;
        if (m_durationFrames >= 0) {
            last = std::min(last, m_durationFrames - m_nextFrame);
        }
        m_nextFrame += produced;
        if (first >= last) {
            return;
        }
        out.insert(out.end(), m_converted.begin() + first * kChannels,
                   m_converted.begin() + last * kChannels);
    }

    QString m_path;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    SwrContext* m_resampler = nullptr; // made for the first frame after opening or a seek
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    int m_index = -1;             // of the audio stream
    double m_timeBase = 0.0;      // seconds per time stamp unit
    qint64 m_startPts = 0;        // the stream's first time stamp
    double m_duration = 0.0;      // seconds
    qint64 m_durationFrames = -1; // at 48 000 Hz; -1 when unknown
    qint64 m_target = 0;          // output frames before it are dropped
    qint64 m_nextFrame = 0;       // output frame index of the next converted frame, or kUnknown
    bool m_ended = false;         // everything decoded and handed out
    std::vector<float> m_converted;
};

struct FfmpegAudioPlayerCallbacks {
    static void state(pa_stream* stream, void* userdata) {
        auto* player = static_cast<FfmpegAudioPlayer*>(userdata);
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            // play() or pause() may have come while the stream was connecting.
            if (auto* operation =
                    pa_stream_cork(stream, player->m_playing ? 0 : 1, nullptr, nullptr)) {
                pa_operation_unref(operation);
            }
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            player->postFinished(
                pulseError(kPlaybackBroke, pa_context_errno(pa_stream_get_context(stream)))
                    .description());
            break;
        default:
            break;
        }
        player->m_connection->signal();
    }

    static void writable(pa_stream*, size_t, void* userdata) {
        static_cast<FfmpegAudioPlayer*>(userdata)->m_connection->signal();
    }

    static void drained(pa_stream*, int success, void* userdata) {
        // An unsuccessful drain belongs to a stream that failed, which its state reports.
        if (success != 0) {
            static_cast<FfmpegAudioPlayer*>(userdata)->postFinished(std::nullopt);
        }
    }
};

FfmpegAudioPlayer::FfmpegAudioPlayer(std::shared_ptr<PulseConnection> connection,
                                     const QString& path)
    : m_connection(std::move(connection))
    , m_decoder(std::make_unique<Decoder>(path))
    , m_context(std::make_unique<QObject>())
    , m_alive(m_context.get())
    , m_duration(m_decoder->duration()) {
    PulseConnection::Lock lock(*m_connection);
    if (!m_connection->isConnected() || !openStream()) {
        const int error = pa_context_errno(m_connection->context());
        throw pulseError(kStreamFailed, error == PA_OK ? PA_ERR_CONNECTIONTERMINATED : error);
    }
    m_listener = m_connection->addListener(nullptr, [this](const QString& description) {
        postFinished(kPlaybackBroke + QStringLiteral("：") + description);
    });
    m_thread = std::thread([this] { decodeLoop(); });
}

FfmpegAudioPlayer::~FfmpegAudioPlayer() {
    {
        PulseConnection::Lock lock(*m_connection);
        m_quit = true;
        closeStream();
        m_connection->removeListener(m_listener);
        m_connection->signal();
    }
    m_thread.join();
    // Drops end notices still on their way.
    m_context.reset();
}

void FfmpegAudioPlayer::play() {
    if (m_failed) {
        return;
    }
    PulseConnection::Lock lock(*m_connection);
    if (!m_playing) {
        m_playingSince.start();
    }
    m_playing = true;
    m_segmentPlayed = true;
    if (m_stream != nullptr && pa_stream_get_state(m_stream) == PA_STREAM_READY) {
        if (auto* operation = pa_stream_cork(m_stream, 0, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
    }
}

void FfmpegAudioPlayer::pause() {
    PulseConnection::Lock lock(*m_connection);
    if (m_playingSince.isValid()) {
        m_playedBefore += secondsSince(m_playingSince);
        m_playingSince.invalidate();
    }
    m_playing = false;
    if (m_stream != nullptr && pa_stream_get_state(m_stream) == PA_STREAM_READY) {
        if (auto* operation = pa_stream_cork(m_stream, 1, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
    }
}

void FfmpegAudioPlayer::stop() {
    pause();
}

bool FfmpegAudioPlayer::isPlaying() const {
    // Only the main thread writes it.
    return m_playing;
}

double FfmpegAudioPlayer::currentTime() const {
    PulseConnection::Lock lock(*m_connection);
    return positionLocked();
}

void FfmpegAudioPlayer::setCurrentTime(double seconds) {
    if (m_failed) {
        return;
    }
    PulseConnection::Lock lock(*m_connection);
    startSegment(std::clamp(std::isfinite(seconds) ? seconds : 0.0, 0.0, m_duration));
}

double FfmpegAudioPlayer::duration() const {
    return m_duration;
}

void FfmpegAudioPlayer::startSegment(double position) {
    closeStream();
    ++m_generation;
    m_segmentStart = position;
    m_segmentFrames = 0;
    m_segmentPlayed = m_playing;
    m_playedBefore = 0.0;
    if (m_playing) {
        m_playingSince.start();
    } else {
        m_playingSince.invalidate();
    }
    if (!openStream()) {
        postFinished(
            pulseError(kStreamFailed, pa_context_errno(m_connection->context())).description());
    }
    m_connection->signal();
}

bool FfmpegAudioPlayer::openStream() {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, kChannels};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    m_stream = pa_stream_new(m_connection->context(), "Kivo 播放", &spec, &map);
    if (m_stream == nullptr) {
        return false;
    }
    pa_stream_set_state_callback(m_stream, &FfmpegAudioPlayerCallbacks::state, this);
    pa_stream_set_write_callback(m_stream, &FfmpegAudioPlayerCallbacks::writable, this);

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(framesOf(kBufferedTime) * kBytesPerFrame);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(-1);
    auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (!m_playing) {
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED);
    }
    if (pa_stream_connect_playback(m_stream, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
        closeStream();
        return false;
    }
    return true;
}

void FfmpegAudioPlayer::closeStream() {
    if (m_drain != nullptr) {
        // A cancelled operation never calls back, so nothing reaches a player that is gone.
        if (pa_operation_get_state(m_drain) == PA_OPERATION_RUNNING) {
            pa_operation_cancel(m_drain);
        }
        pa_operation_unref(m_drain);
        m_drain = nullptr;
    }
    if (m_stream == nullptr) {
        return;
    }
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    const auto state = pa_stream_get_state(m_stream);
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING) {
        pa_stream_disconnect(m_stream);
    }
    pa_stream_unref(m_stream);
    m_stream = nullptr;
}

double FfmpegAudioPlayer::positionLocked() const {
    double heard = 0.0;
    pa_usec_t time = 0;
    // A stream that waits corked for its first play() may still report a few samples played.
    if (m_segmentPlayed && m_stream != nullptr &&
        pa_stream_get_state(m_stream) == PA_STREAM_READY &&
        pa_stream_get_time(m_stream, &time) == 0) {
        const double allowed =
            m_playedBefore + (m_playingSince.isValid() ? secondsSince(m_playingSince) : 0.0);
        heard = std::min({static_cast<double>(time) / 1e6,
                          static_cast<double>(m_segmentFrames) / kRate, allowed});
    }
    return std::min(m_segmentStart + heard, m_duration);
}

bool FfmpegAudioPlayer::writeSome(const float* samples, qint64 frames, qint64& written) {
    if (m_stream == nullptr || pa_stream_get_state(m_stream) != PA_STREAM_READY) {
        return false;
    }
    const auto writable = pa_stream_writable_size(m_stream);
    if (writable == static_cast<size_t>(-1)) {
        return false;
    }
    const qint64 count = std::min(frames, static_cast<qint64>(writable) / kBytesPerFrame);
    if (count <= 0 ||
        pa_stream_write(m_stream, samples, static_cast<size_t>(count * kBytesPerFrame), nullptr, 0,
                        PA_SEEK_RELATIVE) < 0) {
        return false;
    }
    written = count;
    m_segmentFrames += count;
    return true;
}

void FfmpegAudioPlayer::postFinished(std::optional<QString> failure) {
    MainThread::post(m_alive, [this, failure = std::move(failure), generation = m_generation] {
        finished(failure, generation);
    });
}

void FfmpegAudioPlayer::finished(const std::optional<QString>& failure, quint64 generation) {
    // A seek or another end since then started a new segment, or the player failed already.
    if (generation != m_generation || m_failed) {
        return;
    }
    {
        PulseConnection::Lock lock(*m_connection);
        m_playing = false;
        if (!failure) {
            startSegment(0.0);
        } else {
            m_failed = true;
            m_segmentStart = positionLocked();
            m_segmentFrames = 0;
            closeStream();
        }
    }
    if (onFinished) {
        onFinished(failure);
    }
}

void FfmpegAudioPlayer::decodeLoop() {
    auto* mainloop = m_connection->mainloop();
    pa_threaded_mainloop_lock(mainloop);
    quint64 generation = m_generation; // the segment being decoded; the file starts at 0
    std::vector<float> chunk;
    qint64 done = 0;       // frames of `chunk` written
    bool more = true;      // the segment has audio still to decode
    bool stalled = false;  // the file failed; waits for another segment
    bool draining = false; // the drain was asked for
    while (!m_quit) {
        if (generation != m_generation) {
            generation = m_generation;
            const double target = m_segmentStart;
            chunk.clear();
            done = 0;
            more = true;
            draining = false;
            pa_threaded_mainloop_unlock(mainloop);
            std::optional<QString> failure;
            try {
                m_decoder->seek(target);
            } catch (const PlatformError& error) {
                failure = error.description();
            }
            stalled = failure.has_value();
            pa_threaded_mainloop_lock(mainloop);
            if (stalled && generation == m_generation) {
                postFinished(failure);
            }
            continue;
        }
        const auto frames = static_cast<qint64>(chunk.size()) / kChannels;
        if (stalled) {
            pa_threaded_mainloop_wait(mainloop);
        } else if (done < frames) {
            qint64 written = 0;
            if (writeSome(chunk.data() + done * kChannels, frames - done, written)) {
                done += written;
            } else {
                pa_threaded_mainloop_wait(mainloop);
            }
        } else if (more) {
            pa_threaded_mainloop_unlock(mainloop);
            std::optional<QString> failure;
            try {
                more = m_decoder->produce(chunk);
            } catch (const PlatformError& error) {
                chunk.clear();
                failure = error.description();
            }
            stalled = failure.has_value();
            done = 0;
            pa_threaded_mainloop_lock(mainloop);
            if (stalled && generation == m_generation) {
                postFinished(failure);
            }
        } else if (!draining && m_stream != nullptr &&
                   pa_stream_get_state(m_stream) == PA_STREAM_READY) {
            // Plays out what the server holds, even less than it waits for before starting.
            m_drain = pa_stream_drain(m_stream, &FfmpegAudioPlayerCallbacks::drained, this);
            draining = true;
        } else {
            pa_threaded_mainloop_wait(mainloop);
        }
    }
    pa_threaded_mainloop_unlock(mainloop);
}

} // namespace kivo
