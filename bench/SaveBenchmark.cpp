// What saving a recording costs the user, each figure against a reference run in the same
// process:
//
//   stop_to_saved_60min_seconds       From finish() to the record of a 60-minute recording of
//                                     the system and the microphone, AAC with separate tracks
//                                     (three files), fed faster than real time while the files
//                                     are written as it runs.
//   stop_to_saved_vs_export_at_stop   That, divided by the time the same session takes to
//                                     export from its track files (what the stop did before the
//                                     files were written while recording). Target: under 1 s
//                                     for the stop.
//   recovery_export_parallel_vs_serial
//                                     The export from the tracks of a 10-minute session with
//                                     separate tracks (as recovery runs it), one encoder per
//                                     core, divided by the same export on one thread.
//
// Usage: kivo_bench_save [--minutes N]   (default 60)

#include "infrastructure/AudioUnits.h"
#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/audio/PcmBuffer.h"
#include "infrastructure/audio/SessionExport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <numbers>
#include <random>
#include <string>

using namespace kivo;

namespace {

const AudioRecordingWriter::AvailableCapacity plenty = [](const QString&) {
    return std::optional<std::uint64_t>(1'000'000'000'000);
};

RecordingConfiguration configuration(const QString& output) {
    RecordingConfiguration c(QUrl::fromLocalFile(output + QStringLiteral("/")));
    c.name = QStringLiteral("bench");
    c.includesMicrophone = true;
    c.saveSeparateTracks = true;
    c.format = AudioOutputFormat::aac;
    return c;
}

// Records `minutes` of a tone (system) and noise (microphone) in 0.1 s buffers, as fast as the
// files written while recording follow, and returns the end's host time.
double feed(AudioRecordingWriter& writer, double minutes) {
    constexpr qint64 kFrames = 4800;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.2F, 0.2F);
    PcmBuffer microphone(kWorkingFormat, kFrames);
    for (qint64 i = 0; i < kFrames; ++i) {
        microphone.channel(0)[i] = noise(random);
        microphone.channel(1)[i] = noise(random);
    }
    microphone.setFrameLength(kFrames);
    writer.activate(0.0);
    const auto buffers = static_cast<qint64>(minutes * 60.0 * kWorkingSampleRate) / kFrames;
    for (qint64 b = 0; b < buffers; ++b) {
        PcmBuffer system(kWorkingFormat, kFrames);
        for (qint64 i = 0; i < kFrames; ++i) {
            const double phase = 2.0 * std::numbers::pi * 440.0 *
                                 static_cast<double>(b * kFrames + i) / kWorkingSampleRate;
            system.channel(0)[i] = system.channel(1)[i] =
                0.3F * static_cast<float>(std::sin(phase));
        }
        system.setFrameLength(kFrames);
        const double at = static_cast<double>(b * kFrames) / kWorkingSampleRate;
        writer.appendAsync(std::move(system), AudioSource::system, at);
        writer.appendAsync(microphone, AudioSource::microphone, at);
        if (b % 600 == 599) {
            // Every minute, wait for the files to come within two seconds of the tracks.
            const qint64 fed = (b + 1) * kFrames;
            for (;;) {
                std::optional<qint64> saved;
                writer.queue().sync([&] { saved = writer.framesSavedWhileRecording(); });
                if (!saved) {
                    std::fprintf(stderr, "the files written while recording failed\n");
                    std::exit(1);
                }
                if (*saved >= fed - 2 * static_cast<qint64>(kWorkingSampleRate)) {
                    break;
                }
                QThread::msleep(20);
            }
        }
    }
    writer.queue().sync([] {});
    return static_cast<double>(buffers * kFrames) / kWorkingSampleRate;
}

RecordingRecord finish(AudioRecordingWriter& writer, double at) {
    std::promise<Result<RecordingRecord>> promise;
    writer.finish(at, [&promise](Result<RecordingRecord> result) { promise.set_value(result); });
    auto result = promise.get_future().get();
    if (!result) {
        std::fprintf(stderr, "finish failed: %s\n", qPrintable(result.errorDescription()));
        std::exit(1);
    }
    return result.value();
}

double exportSeconds(const AudioRecordingWriter& writer, std::optional<qint64> frames,
                     int threads) {
    QElapsedTimer clock;
    clock.start();
    SessionExport::exportSession(writer.manifest(), writer.directory(), frames, {},
                                 FileOperations::syncFolder, threads);
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    double minutes = 60.0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0) {
            minutes = std::atof(argv[i + 1]);
        }
    }
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString output = dir.filePath(QStringLiteral("out"));

    {
        AudioRecordingWriter writer(configuration(output), dir.filePath(QStringLiteral("long")),
                                    plenty);
        const double end = feed(writer, minutes);
        QElapsedTimer clock;
        clock.start();
        const RecordingRecord record = finish(writer, end);
        const double stop = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        const auto frames = std::llround(record.duration() * kWorkingSampleRate);
        const double atStop = exportSeconds(writer, frames, 0);
        std::printf("stop_to_saved_%.0fmin_seconds: %.3f\n", minutes, stop);
        std::printf("export_at_stop_%.0fmin_seconds: %.3f\n", minutes, atStop);
        std::printf("stop_to_saved_vs_export_at_stop: %.4f\n", stop / atStop);
        writer.acknowledgeSaved();
        QDir(output).removeRecursively();
    }
    {
        AudioRecordingWriter writer(configuration(output), dir.filePath(QStringLiteral("short")),
                                    plenty);
        finish(writer, feed(writer, 10.0));
        const double serial = exportSeconds(writer, std::nullopt, 1);
        const double parallel = exportSeconds(writer, std::nullopt, 0);
        std::printf("recovery_export_serial_seconds: %.3f\n", serial);
        std::printf("recovery_export_parallel_seconds: %.3f (%d cores)\n", parallel,
                    QThread::idealThreadCount());
        std::printf("recovery_export_parallel_vs_serial: %.3f\n", parallel / serial);
    }
    return 0;
}
