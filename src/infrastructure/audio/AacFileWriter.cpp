#include "infrastructure/audio/AacFileWriter.h"

#include "infrastructure/PlatformError.h"
#include "infrastructure/audio/FfmpegLog.h"
#include "infrastructure/audio/Mp4AudioWriter.h"
#include "infrastructure/audio/PcmBuffer.h"

#include <QByteArray>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kivo {

void AacFileWriter::CodecDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}

void AacFileWriter::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

void AacFileWriter::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

AacFileWriter::AacFileWriter(const QString& path, qint64 bitRate, qint64 expectedFrames)
    : m_path(path) {
    FfmpegLog::install();
    const QString creating = QStringLiteral("無法建立音檔 %1").arg(path);
    const int sampleRate = static_cast<int>(kWorkingSampleRate);

    const AVCodec* encoder = avcodec_find_encoder_by_name("aac");
    if (encoder == nullptr) {
        fail(creating, AVERROR_ENCODER_NOT_FOUND);
    }
    m_codec.reset(avcodec_alloc_context3(encoder));
    if (!m_codec) {
        fail(creating, AVERROR(ENOMEM));
    }
    m_codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_codec->sample_rate = sampleRate;
    av_channel_layout_default(&m_codec->ch_layout, kWorkingFormat.channels);
    m_codec->bit_rate = bitRate;
    m_codec->time_base = AVRational{1, sampleRate};
    // The decoder configuration goes into the file's sample description, not before each packet.
    m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int result = avcodec_open2(m_codec.get(), encoder, nullptr);
    if (result < 0) {
        fail(creating, result);
    }
    m_frameSize = m_codec->frame_size;
    if (m_frameSize != kFrameSamples || m_codec->extradata == nullptr ||
        m_codec->extradata_size < 1) {
        fail(creating, AVERROR(EINVAL));
    }

    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_frame || !m_packet) {
        fail(creating, AVERROR(ENOMEM));
    }
    m_frame->format = m_codec->sample_fmt;
    m_frame->sample_rate = sampleRate;
    m_frame->nb_samples = m_frameSize;
    result = av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout);
    if (result >= 0) {
        result = av_frame_get_buffer(m_frame.get(), 0);
    }
    if (result < 0) {
        fail(creating, result);
    }

    // Leading silence that makes the expected frames end on an encoder frame boundary; the edit
    // list skips it along with the encoder delay. FFmpeg's demuxer drops a last packet that
    // begins before the edit when the edit is shorter than the rest of that packet; audio that
    // short (at most half an encoder frame) goes first instead, where such a decoder keeps it
    // and shows the padding after it.
    const qint64 expected = std::max<qint64>(expectedFrames, 0);
    const auto padding = static_cast<int>((m_frameSize - expected % m_frameSize) % m_frameSize);
    m_leading = padding < expected ? padding : 0;
    m_filled = m_leading;
    m_framePts = -m_filled;
    for (int channel = 0; channel < kWorkingFormat.channels; ++channel) {
        std::memset(m_frame->data[channel], 0, static_cast<std::size_t>(m_filled) * sizeof(float));
    }

    // A packet per encoder frame of audio, one each for the silence and for what is left over,
    // and those the encoder delay adds.
    const qint64 packets = expected / m_frameSize + 2 +
                           (std::max(m_codec->initial_padding, 0) + m_frameSize - 1) / m_frameSize;
    Mp4AudioWriter::Stream stream;
    stream.sampleRate = sampleRate;
    stream.channels = kWorkingFormat.channels;
    stream.audioSpecificConfig =
        QByteArray(reinterpret_cast<const char*>(m_codec->extradata), m_codec->extradata_size);
    m_file = std::make_unique<Mp4AudioWriter>(path, std::move(stream), packets);
}

AacFileWriter::~AacFileWriter() = default;

void AacFileWriter::fail(const QString& what, int error) const {
    throw PlatformError(what + QStringLiteral("：") + FfmpegLog::describe(error));
}

void AacFileWriter::write(const float* left, const float* right, qint64 frames) {
    Q_ASSERT(!m_finished);
    qint64 done = 0;
    while (done < frames) {
        if (m_filled == 0) {
            m_frame->nb_samples = m_frameSize;
            const int result = av_frame_make_writable(m_frame.get());
            if (result < 0) {
                fail(QStringLiteral("無法編碼音檔 %1").arg(m_path), result);
            }
        }
        const auto count =
            static_cast<int>(std::min<qint64>(frames - done, m_frameSize - m_filled));
        const auto bytes = static_cast<std::size_t>(count) * sizeof(float);
        const auto offset = static_cast<std::size_t>(m_filled) * sizeof(float);
        std::memcpy(m_frame->data[0] + offset, left + done, bytes);
        std::memcpy(m_frame->data[1] + offset, right + done, bytes);
        m_filled += count;
        done += count;
        m_written += count;
        if (m_filled == m_frameSize) {
            sendFilledFrame();
        }
    }
}

void AacFileWriter::finish() {
    Q_ASSERT(!m_finished);
    m_finished = true;
    if (m_written == 0) {
        // Nothing to present: the leading silence stays out and the track stays empty.
        m_filled = 0;
    }
    if (m_filled > 0) {
        // A short last frame: the encoder pads it, and the edit list ends the audio before the
        // padding.
        sendFilledFrame();
    }
    encode(nullptr);
    std::vector<Mp4AudioWriter::Chapter> chapters;
    for (const RecordingMarker& marker : m_markers) {
        chapters.push_back(
            {std::clamp<qint64>(std::llround(marker.at * kWorkingSampleRate), 0, m_written),
             marker.label});
    }
    m_file->finish(m_leading + std::max(m_codec->initial_padding, 0), m_written, chapters);
    m_file.reset();
    m_packet.reset();
    m_frame.reset();
    m_codec.reset();
}

void AacFileWriter::sendFilledFrame() {
    m_frame->nb_samples = m_filled;
    m_frame->pts = m_framePts;
    encode(m_frame.get());
    m_framePts += m_filled;
    m_filled = 0;
}

void AacFileWriter::encode(AVFrame* frame) {
    int result = avcodec_send_frame(m_codec.get(), frame);
    if (result < 0) {
        fail(QStringLiteral("無法編碼音檔 %1").arg(m_path), result);
    }
    for (;;) {
        result = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return;
        }
        if (result < 0) {
            fail(QStringLiteral("無法編碼音檔 %1").arg(m_path), result);
        }
        // A packet's duration is the number of samples it adds; the last one's stops at the end
        // of the audio.
        const qint64 duration = m_packet->duration > 0 ? m_packet->duration : m_frameSize;
        m_file->writePacket(m_packet->data, m_packet->size, duration);
        av_packet_unref(m_packet.get());
    }
}

} // namespace kivo
