// How long an append waits on the session writer's queue while track data is forced to disk.
//
// Feeds a two-source recording at real-time pace (1024-frame buffers every 21.3 ms per source) for
// a while and measures, after every hand-off, how long the queue takes to reach a marker queued
// right behind the buffer. Two runs in the same process:
//   reference: fdatasync of both track files runs on the queue itself every 2 s;
//   kivo:      the writer's own flusher thread does it off the queue.
// Prints the worst delay of each run in milliseconds and their ratio (kivo ÷ reference).

#include "infrastructure/audio/AudioRecordingWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace kivo;
using Clock = std::chrono::steady_clock;

namespace {

constexpr qint64 kFrames = 1024;
constexpr double kBufferSeconds = static_cast<double>(kFrames) / 48000.0;

PcmBuffer noise(unsigned& seed) {
    PcmBuffer buffer(kWorkingFormat, kFrames);
    buffer.setFrameLength(kFrames);
    for (int channel = 0; channel < 2; ++channel) {
        for (float& sample : buffer.channel(channel)) {
            seed = seed * 1664525U + 1013904223U;
            sample = static_cast<float>(seed >> 8) / 16777216.0F - 0.5F;
        }
    }
    return buffer;
}

// Worst queue delay in milliseconds over `seconds` of real-time recording.
double worstDelay(const QString& folder, double seconds, bool syncOnQueue) {
    RecordingConfiguration configuration(QUrl::fromLocalFile(folder + QStringLiteral("/out/")));
    AudioRecordingWriter writer(configuration, folder + QStringLiteral("/Captures"));
    writer.activate(0.0);

    std::vector<int> descriptors;
    if (syncOnQueue) {
        for (const auto source : kAllAudioSources) {
            const QString path = writer.directory() + QLatin1Char('/') + trackFileName(source);
            descriptors.push_back(::open(QFile::encodeName(path).constData(), O_RDONLY));
        }
    }

    std::atomic<double> worst = 0.0;
    unsigned seed = 1;
    const auto begin = Clock::now();
    auto lastSync = begin;
    const auto buffers = static_cast<qint64>(seconds / kBufferSeconds);
    for (qint64 i = 0; i < buffers; ++i) {
        std::this_thread::sleep_until(
            begin + std::chrono::duration<double>(kBufferSeconds * static_cast<double>(i)));
        const double at = kBufferSeconds * static_cast<double>(i);
        for (const auto source : kAllAudioSources) {
            const auto handedOver = Clock::now();
            writer.appendAsync(noise(seed), source, at);
            writer.queue().async([&worst, handedOver] {
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - handedOver).count();
                double seen = worst.load();
                while (ms > seen && !worst.compare_exchange_weak(seen, ms)) {
                }
            });
        }
        if (syncOnQueue &&
            Clock::now() - lastSync >=
                std::chrono::duration<double>(AudioRecordingWriter::kDiskFlushInterval)) {
            lastSync = Clock::now();
            writer.queue().async([&descriptors] {
                for (const int fd : descriptors) {
                    ::fdatasync(fd);
                }
            });
        }
    }
    writer.queue().sync([] {});
    for (const int fd : descriptors) {
        ::close(fd);
    }
    writer.abandonEmptySession();
    return worst.load();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/kivo-bench-XXXXXX"));
    const double seconds = 20.0;

    const double reference = worstDelay(dir.filePath(QStringLiteral("reference")), seconds, true);
    const double kivo = worstDelay(dir.filePath(QStringLiteral("kivo")), seconds, false);

    std::printf("queue_worst_delay_sync_on_queue_ms: %.2f\n", reference);
    std::printf("queue_worst_delay_ms: %.2f\n", kivo);
    std::printf("queue_worst_delay_vs_sync_on_queue: %.3f\n", kivo / std::max(reference, 1e-9));
    return 0;
}
