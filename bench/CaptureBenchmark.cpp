// What recording costs: the process CPU time of a system-plus-microphone recording (into one WAV
// file, and into three AAC files written as it runs), and the time
// from starting a recording to its first written frame. Needs a sound server (scripts/bench
// starts a private PulseAudio). Each figure has a reference measured in the same run: the sound
// server's own recorder, parec, recording the same two sources; for the AAC recording, the WAV
// recording plus FFmpeg's AAC encoder alone encoding as much audio as the three files hold.
//
//   kivo_bench_capture [--seconds N]   (default 60)

#include "application/RecordingCoordinator.h"
#include "infrastructure/audio/AacFileWriter.h"
#include "infrastructure/audio/CafReader.h"
#include "infrastructure/capture/AudioCaptureService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kivo;

namespace {

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds of each of this process's threads so far, by thread name (threads of one name
// summed). From /proc: the kernel's per-thread counts, in clock ticks.
std::map<std::string, double> threadCpuSeconds() {
    std::map<std::string, double> result;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const auto& task :
         QDir(QStringLiteral("/proc/self/task")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(task.filePath() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue; // ended meanwhile
        }
        const QByteArray line = stat.readAll();
        const auto open = line.indexOf('(');
        const auto close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (open < 0 || close < open || fields.size() < 13) {
            continue;
        }
        // After the name: state is field 0, utime field 11, stime field 12.
        const double seconds = (fields[11].toDouble() + fields[12].toDouble()) / tick;
        result[line.mid(open + 1, close - open - 1).toStdString()] += seconds;
    }
    return result;
}

// Runs the event loop until `condition` holds, checking every millisecond (without spinning, so
// that the waiting costs no CPU time of its own).
void spinUntil(const std::function<bool()>& condition, int timeoutMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || timer.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    if (condition()) {
        return;
    }
    poll.start(1);
    loop.exec();
}

void spinFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Frames written so far to the track files of every session folder under `captures`.
qint64 writtenFrames(const QString& captures) {
    qint64 frames = 0;
    for (const auto& session : QDir(captures).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const auto& track :
             QDir(session.filePath()).entryInfoList({QStringLiteral("*.caf")})) {
            try {
                frames += CafReader(track.filePath()).length();
            } catch (const std::exception&) {
                // Not readable yet: its header is still being written.
            }
        }
    }
    return frames;
}

struct Recording {
    double cpuPercent = 0;
    std::vector<double> startLatenciesMs;
};

// Kivo: `rounds` short recordings for the start latency, then one of `seconds` for the CPU, into
// one WAV file, or into three AAC files (merged and one per source) with `aac`.
Recording measureKivo(const QString& folder, int rounds, double seconds, bool aac = false) {
    Recording result;
    RecordingConfiguration configuration(QUrl::fromLocalFile(folder + QStringLiteral("/out/")));
    configuration.includesMicrophone = true;
    configuration.format = aac ? AudioOutputFormat::aac : AudioOutputFormat::wav;
    configuration.saveSeparateTracks = aac;

    const auto record = [&](double length, bool timeStart) {
        const QString captures = folder + QStringLiteral("/Captures");
        QDir(captures).removeRecursively();
        auto service = std::make_shared<AudioCaptureService>(captures);
        RecordingCoordinator coordinator(service);
        QElapsedTimer clock;
        clock.start();
        bool started = false;
        coordinator.start(configuration, [&] { started = true; });
        spinUntil([&] { return started; });
        if (coordinator.state() != RecordingState::recording) {
            std::fprintf(stderr, "start failed: %s\n",
                         qPrintable(coordinator.error().value_or(QString())));
            std::exit(1);
        }
        if (timeStart) {
            spinUntil([&] { return writtenFrames(captures) > 0; });
            result.startLatenciesMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto threadsBefore = threadCpuSeconds();
        spinFor(static_cast<int>(length * 1000));
        const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        if (!timeStart) {
            // Where the time went, for whoever reads the log (threads that ended are missing).
            for (const auto& [name, total] : threadCpuSeconds()) {
                const auto before = threadsBefore.find(name);
                const double spent = total - (before == threadsBefore.end() ? 0.0 : before->second);
                std::fprintf(stderr, "  %s thread %s: %.3f %%\n", aac ? "aac" : "wav", name.c_str(),
                             spent / length * 100.0);
            }
        }
        bool stopped = false;
        coordinator.stop([&](std::optional<RecordingRecord>) { stopped = true; });
        spinUntil([&] { return stopped; }, 120000);
        service->acknowledgeSaved();
        return cpu;
    };

    for (int i = 0; i < rounds; ++i) {
        record(0.3, true);
    }
    result.cpuPercent = record(seconds, false) / seconds * 100.0;
    return result;
}

// parec recording the default output's monitor and the default input, for the same time, each
// into a file in `folder` (a pipe nobody reads would stop its writes once full: parec then keeps
// the audio in memory and writes nothing, which is not recording).
Recording measureParec(const QString& folder, int rounds, double seconds) {
    Recording result;
    const auto run = [&](double length, bool timeStart) {
        QProcess system;
        QProcess microphone;
        const QString systemFile = folder + QStringLiteral("/parec-system.raw");
        system.setStandardOutputFile(systemFile);
        microphone.setStandardOutputFile(folder + QStringLiteral("/parec-microphone.raw"));
        const QStringList common{QStringLiteral("--format=float32le"),
                                 QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"),
                                 QStringLiteral("--latency-msec=20")};
        QElapsedTimer clock;
        clock.start();
        system.start(QStringLiteral("parec"),
                     common + QStringList{QStringLiteral("--device=@DEFAULT_MONITOR@")});
        microphone.start(QStringLiteral("parec"), common);
        system.waitForStarted();
        microphone.waitForStarted();
        if (timeStart) {
            // Like Kivo's: until the first audio is in the file.
            while (QFileInfo(systemFile).size() == 0 && clock.elapsed() < 10000) {
                QThread::usleep(500);
            }
            result.startLatenciesMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
        QThread::msleep(static_cast<unsigned long>(length * 1000));
        // Both recorders are children of this process: their CPU time is counted once reaped.
        const double before = cpuSeconds(RUSAGE_CHILDREN);
        system.terminate();
        microphone.terminate();
        system.waitForFinished();
        microphone.waitForFinished();
        return cpuSeconds(RUSAGE_CHILDREN) - before;
    };
    for (int i = 0; i < rounds; ++i) {
        run(0.3, true);
    }
    result.cpuPercent = run(seconds, false) / seconds * 100.0;
    return result;
}

// FFmpeg's AAC encoder alone, as Kivo runs it, on `seconds` of a tone: CPU seconds.
double encoderSeconds(const QString& folder, double seconds) {
    constexpr qint64 kChunk = 4096;
    std::vector<float> tone(kChunk);
    for (qint64 i = 0; i < kChunk; ++i) {
        tone[static_cast<std::size_t>(i)] =
            0.3F *
            static_cast<float>(std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / 48000.0));
    }
    const auto frames = static_cast<qint64>(seconds * 48000.0);
    const double before = cpuSeconds(RUSAGE_THREAD);
    AacFileWriter writer(folder + QStringLiteral("/alone.m4a"), AacFileWriter::kStandardBitRate,
                         frames);
    for (qint64 done = 0; done < frames; done += kChunk) {
        writer.write(tone.data(), tone.data(), std::min(kChunk, frames - done));
    }
    writer.finish();
    return cpuSeconds(RUSAGE_THREAD) - before;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double seconds = 60.0;
    const QStringList arguments = app.arguments();
    if (const auto at = arguments.indexOf(QStringLiteral("--seconds"));
        at > 0 && at + 1 < arguments.size()) {
        seconds = arguments[at + 1].toDouble();
    }
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        std::fprintf(stderr, "kivo_bench_capture: no PULSE_SERVER; run it through scripts/bench\n");
        return 1;
    }

    // Something to record on both sources for the whole run.
    QProcess output;
    QProcess microphone;
    const QStringList tone{QStringLiteral("-n"),
                           QStringLiteral("-t"),
                           QStringLiteral("raw"),
                           QStringLiteral("-r"),
                           QStringLiteral("48000"),
                           QStringLiteral("-c"),
                           QStringLiteral("2"),
                           QStringLiteral("-e"),
                           QStringLiteral("floating-point"),
                           QStringLiteral("-b"),
                           QStringLiteral("32"),
                           QStringLiteral("-"),
                           QStringLiteral("synth"),
                           QString::number(seconds * 2 + 60),
                           QStringLiteral("sine"),
                           QStringLiteral("440")};
    QProcess outputSource;
    QProcess microphoneSource;
    outputSource.setStandardOutputProcess(&output);
    microphoneSource.setStandardOutputProcess(&microphone);
    const QStringList play{QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
                           QStringLiteral("--channels=2")};
    output.start(QStringLiteral("pacat"), play);
    microphone.start(QStringLiteral("pacat"),
                     play + QStringList{QStringLiteral("--device=kivo_test_mic_feed")});
    outputSource.start(QStringLiteral("sox"), tone);
    microphoneSource.start(QStringLiteral("sox"), tone);

    QTemporaryDir dir;
    constexpr int kRounds = 5;
    const Recording reference = measureParec(dir.path(), kRounds, seconds);
    const Recording kivo = measureKivo(dir.path(), kRounds, seconds);
    const Recording live = measureKivo(dir.path(), 0, seconds, true);
    const double encoderPercent = 3.0 * encoderSeconds(dir.path(), seconds) / seconds * 100.0;

    for (QProcess* process : {&outputSource, &microphoneSource, &output, &microphone}) {
        process->kill();
        process->waitForFinished();
    }

    std::printf("capture_cpu_percent: %.3f\n", kivo.cpuPercent);
    std::printf("capture_cpu_parec_percent: %.3f\n", reference.cpuPercent);
    std::printf("capture_cpu_vs_parec: %.3f\n",
                kivo.cpuPercent / std::max(reference.cpuPercent, 1e-9));
    // Recording into three AAC files written as the audio arrives, against the recording into
    // one WAV file plus what FFmpeg's encoder alone needs for three files of the same audio.
    const double liveReference = kivo.cpuPercent + encoderPercent;
    std::printf("recording_cpu_live_percent: %.3f\n", live.cpuPercent);
    std::printf("recording_cpu_reference_percent: %.3f (wav %.3f + encoder %.3f)\n", liveReference,
                kivo.cpuPercent, encoderPercent);
    std::printf("recording_cpu_live_vs_reference: %.3f\n", live.cpuPercent / liveReference);
    for (const double ms : kivo.startLatenciesMs) {
        std::fprintf(stderr, "start latency: %.1f ms\n", ms);
    }
    std::printf("start_latency_ms: %.1f\n", median(kivo.startLatenciesMs));
    std::printf("start_latency_parec_ms: %.1f\n", median(reference.startLatenciesMs));
    std::printf("start_latency_vs_parec: %.3f\n",
                median(kivo.startLatenciesMs) / std::max(median(reference.startLatenciesMs), 1e-9));
    return 0;
}
