// How much faster than real time AudioTrack::append runs for 1024-frame buffers written into a
// real track file: audio seconds appended ÷ wall-clock seconds, for captured fragments (48 kHz
// stereo float, interleaved: what the capture hands the writer) and for mono 44.1 kHz 16-bit input
// (decoding, resampling, channel mapping). Each figure is the best of several runs, each into a new
// file, so that other load on the machine distorts it less.

#include "infrastructure/audio/AudioTrack.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr qint64 kBufferFrames = 1024;
constexpr double kAudioSeconds = 30.0; // per run
constexpr int kRuns = 5;

// Buffers of one second of a 440 Hz tone, reused in turn so that making them costs nothing.
std::vector<kivo::PcmBuffer> makeBuffers(kivo::PcmFormat format) {
    std::vector<kivo::PcmBuffer> buffers;
    const auto count = static_cast<qint64>(std::ceil(format.sampleRate / kBufferFrames));
    for (qint64 index = 0; index < count; ++index) {
        kivo::PcmBuffer buffer(format, kBufferFrames);
        for (qint64 i = 0; i < kBufferFrames; ++i) {
            const double value =
                0.5 * std::sin(2.0 * std::numbers::pi * 440.0 *
                               static_cast<double>(index * kBufferFrames + i) / format.sampleRate);
            if (format.sampleFormat == kivo::SampleFormat::int16) {
                const auto sample = static_cast<qint16>(std::lround(value * 32767.0));
                reinterpret_cast<qint16*>(buffer.plane(0))[i] = sample;
            } else if (format.interleaved) {
                for (int channel = 0; channel < format.channels; ++channel) {
                    reinterpret_cast<float*>(buffer.plane(0))[i * format.channels + channel] =
                        static_cast<float>(value);
                }
            } else {
                for (int channel = 0; channel < format.channels; ++channel) {
                    buffer.channel(channel)[static_cast<std::size_t>(i)] =
                        static_cast<float>(value);
                }
            }
        }
        buffer.setFrameLength(kBufferFrames);
        buffers.push_back(std::move(buffer));
    }
    return buffers;
}

double runOnce(kivo::PcmFormat format, const std::vector<kivo::PcmBuffer>& buffers,
               const QString& path) {
    const auto count = static_cast<qint64>(kAudioSeconds * format.sampleRate / kBufferFrames);
    kivo::AudioTrack track(path);
    const auto start = std::chrono::steady_clock::now();
    for (qint64 index = 0; index < count; ++index) {
        const double at = static_cast<double>(index * kBufferFrames) / format.sampleRate;
        const auto& buffer = buffers[static_cast<std::size_t>(index) % buffers.size()];
        if (format.interleaved) {
            track.append(kivo::AudioFragment{reinterpret_cast<const float*>(buffer.plane(0)),
                                             buffer.frameLength(), at},
                         at, 0.8f);
        } else {
            track.append(buffer, at, 0.8f);
        }
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    track.close();
    const double audio = static_cast<double>(count * kBufferFrames) / format.sampleRate;
    return audio / wall.count();
}

double realtimeMultiple(kivo::PcmFormat format, const QTemporaryDir& dir, const char* name) {
    const auto buffers = makeBuffers(format);
    double best = 0.0;
    for (int run = 0; run < kRuns; ++run) {
        const QString path =
            dir.filePath(QStringLiteral("%1-%2.caf").arg(QLatin1String(name)).arg(run));
        best = std::max(best, runOnce(format, buffers, path));
        QFile::remove(path);
    }
    return best;
}

} // namespace

int main() {
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    try {
        const double stereo = realtimeMultiple(
            kivo::PcmFormat{48000.0, 2, kivo::SampleFormat::float32, true}, dir, "stereo");
        std::printf("append_realtime_stereo48k_float: %.0f\n", stereo);
        const double mono = realtimeMultiple(
            kivo::PcmFormat{44100.0, 1, kivo::SampleFormat::int16, false}, dir, "mono");
        std::printf("append_realtime_mono44k_int16: %.0f\n", mono);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
