#include "DecodedAudio.h"

#include <QByteArray>
#include <QFile>

#include <sndfile.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <cstring>
#include <memory>

namespace kivo::test {

namespace {

QString ffmpegText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

// Sample `index` of channel `channel` of a decoded frame, as float.
float sampleOf(const AVFrame& frame, int channel, int index) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = frame.ch_layout.nb_channels;
    const uint8_t* plane = frame.extended_data[planar ? channel : 0];
    const int position = planar ? index : index * channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT: {
        float value = 0.0f;
        std::memcpy(&value, plane + position * 4, 4);
        return value;
    }
    case AV_SAMPLE_FMT_S16: {
        int16_t value = 0;
        std::memcpy(&value, plane + position * 2, 2);
        return static_cast<float>(value) / 32768.0f;
    }
    case AV_SAMPLE_FMT_S32: {
        int32_t value = 0;
        std::memcpy(&value, plane + position * 4, 4);
        return static_cast<float>(static_cast<double>(value) / 2147483648.0);
    }
    default:
        return 0.0f;
    }
}

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

} // namespace

DecodedAudio decodeWithFfmpeg(const QString& path) {
    DecodedAudio decoded;
    const QByteArray url = QByteArrayLiteral("file:") + QFile::encodeName(path);

    AVFormatContext* rawInput = nullptr;
    int result = avformat_open_input(&rawInput, url.constData(), nullptr, nullptr);
    if (result < 0) {
        decoded.error = QStringLiteral("avformat_open_input: ") + ffmpegText(result);
        return decoded;
    }
    std::unique_ptr<AVFormatContext, InputCloser> input(rawInput);
    result = avformat_find_stream_info(input.get(), nullptr);
    if (result < 0) {
        decoded.error = QStringLiteral("avformat_find_stream_info: ") + ffmpegText(result);
        return decoded;
    }
    const AVCodec* decoder = nullptr;
    const int streamIndex =
        av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || decoder == nullptr) {
        decoded.error = QStringLiteral("no audio stream");
        return decoded;
    }
    const AVStream* stream = input->streams[streamIndex];
    std::unique_ptr<AVCodecContext, CodecCloser> codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), stream->codecpar);
    codec->pkt_timebase = stream->time_base;
    result = avcodec_open2(codec.get(), decoder, nullptr);
    if (result < 0) {
        decoded.error = QStringLiteral("avcodec_open2: ") + ffmpegText(result);
        return decoded;
    }

    decoded.sampleRate = stream->codecpar->sample_rate;
    decoded.channels = stream->codecpar->ch_layout.nb_channels;
    decoded.codec = QString::fromLatin1(decoder->name);
    decoded.bitRate = stream->codecpar->bit_rate;
    if (stream->duration != AV_NOPTS_VALUE && decoded.sampleRate > 0) {
        decoded.declaredFrames =
            av_rescale_q(stream->duration, stream->time_base, AVRational{1, decoded.sampleRate});
    }

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    const auto receiveAll = [&]() -> bool {
        for (;;) {
            const int received = avcodec_receive_frame(codec.get(), frame.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) {
                return true;
            }
            if (received < 0) {
                decoded.error = QStringLiteral("avcodec_receive_frame: ") + ffmpegText(received);
                return false;
            }
            for (int i = 0; i < frame->nb_samples; ++i) {
                decoded.left.push_back(sampleOf(*frame, 0, i));
                decoded.right.push_back(sampleOf(*frame, decoded.channels > 1 ? 1 : 0, i));
            }
            av_frame_unref(frame.get());
        }
    };
    while ((result = av_read_frame(input.get(), packet.get())) >= 0) {
        if (packet->stream_index == streamIndex) {
            const int sent = avcodec_send_packet(codec.get(), packet.get());
            av_packet_unref(packet.get());
            if (sent < 0) {
                decoded.error = QStringLiteral("avcodec_send_packet: ") + ffmpegText(sent);
                return decoded;
            }
            if (!receiveAll()) {
                return decoded;
            }
        } else {
            av_packet_unref(packet.get());
        }
    }
    if (result != AVERROR_EOF) {
        decoded.error = QStringLiteral("av_read_frame: ") + ffmpegText(result);
        return decoded;
    }
    avcodec_send_packet(codec.get(), nullptr);
    receiveAll();
    return decoded;
}

DecodedAudio readWithSndfile(const QString& path) {
    DecodedAudio decoded;
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (file == nullptr) {
        decoded.error = QString::fromLocal8Bit(sf_strerror(nullptr));
        return decoded;
    }
    decoded.sampleRate = info.samplerate;
    decoded.channels = info.channels;
    decoded.sndfileFormat = info.format;
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (read != info.frames) {
        decoded.error = QStringLiteral("short read");
        return decoded;
    }
    for (sf_count_t i = 0; i < read; ++i) {
        const auto base = static_cast<std::size_t>(i * info.channels);
        decoded.left.push_back(interleaved[base]);
        decoded.right.push_back(interleaved[base + (info.channels > 1 ? 1 : 0)]);
    }
    return decoded;
}

WavContents readWavBytes(const QString& path) {
    WavContents contents;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        contents.error = file.errorString();
        return contents;
    }
    const QByteArray bytes = file.readAll();
    const auto u8 = [&](qsizetype at) { return static_cast<quint8>(bytes[at]); };
    const auto le32 = [&](qsizetype at) {
        return static_cast<quint32>(u8(at) | (u8(at + 1) << 8) | (u8(at + 2) << 16)) |
               (static_cast<quint32>(u8(at + 3)) << 24);
    };
    const auto le16 = [&](qsizetype at) { return static_cast<int>(u8(at) | (u8(at + 1) << 8)); };
    if (bytes.size() < 12 || bytes.left(4) != "RIFF" || bytes.mid(8, 4) != "WAVE") {
        contents.error = QStringLiteral("not RIFF WAVE");
        return contents;
    }
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const auto size = static_cast<qsizetype>(le32(at + 4));
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= bytes.size()) {
            contents.formatTag = le16(body);
            contents.channels = le16(body + 2);
            contents.sampleRate = static_cast<int>(le32(body + 4));
            contents.bitsPerSample = le16(body + 14);
            haveFormat = true;
        } else if (id == "data" && haveFormat) {
            const int width = contents.bitsPerSample / 8;
            const qsizetype end = std::min(body + size, bytes.size());
            for (qsizetype p = body; width > 0 && p + width <= end; p += width) {
                quint32 value = 0;
                for (int b = 0; b < width; ++b) {
                    value |= static_cast<quint32>(u8(p + b)) << (8 * b);
                }
                const int unused = 32 - 8 * width;
                contents.samples.push_back(static_cast<qint32>(value << unused) >> unused);
            }
            return contents;
        }
        at = body + size + (size & 1);
    }
    contents.error = QStringLiteral("no fmt and data chunks");
    return contents;
}

} // namespace kivo::test
