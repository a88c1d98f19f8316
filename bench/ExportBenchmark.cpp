// Export benchmark: mixes a two-track session (system.caf and microphone.caf) into one file.
//
//   aac_export_vs_ffmpeg      Kivo's AAC 128 kbit/s export of a 10-minute session, in wall-clock
//                             time, divided by the ffmpeg tool's time for the same mix and
//                             encoding (amix without normalisation, its native AAC encoder).
//                             Best of several alternating runs. Target: at most 1.0.
//   wav_export_realtime       10 minutes of audio divided by the time of Kivo's 16-bit WAV export.
//   export_rss_growth_mib     Peak resident memory of an AAC export of a 60-minute session minus
//                             that of a 10-minute one. Target: below 8.
//
// Every export runs in a child process of its own (this program started again with
// --export-child), so that each peak is that export's alone; the child reports its VmHWM.
//
// Usage: kivo_bench_export [--rounds N] [--skip-long]

#include "infrastructure/audio/TrackMix.h"
#include "infrastructure/audio/CafReader.h"
#include "infrastructure/audio/CafWriter.h"
#include "infrastructure/audio/PcmBuffer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace kivo;

namespace {

constexpr qint64 kRate = 48000;
constexpr qint64 kTenMinutes = 10 * 60 * kRate;
constexpr qint64 kSixtyMinutes = 60 * 60 * kRate;

// Deterministic, cheap signal sources.
class Noise {
public:
    float next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return static_cast<float>(static_cast<double>(m_state >> 11) / 9007199254740992.0 * 2.0 -
                                  1.0);
    }

private:
    std::uint64_t m_state = 0x9E3779B97F4A7C15ULL;
};

class Oscillator {
public:
    explicit Oscillator(double frequency)
        : m_step(2.0 * std::numbers::pi * frequency / static_cast<double>(kRate)) {}
    float next() {
        const auto value = static_cast<float>(std::sin(m_phase));
        m_phase += m_step;
        if (m_phase > 2.0 * std::numbers::pi) {
            m_phase -= 2.0 * std::numbers::pi;
        }
        return value;
    }

private:
    double m_step;
    double m_phase = 0.0;
};

// system.caf: two tones under a slow swell, with a little noise. microphone.caf: filtered noise
// in bursts of about 0.7 s, like speech with pauses.
void writeSession(const QString& folder, qint64 frames) {
    CafWriter system(folder + QStringLiteral("/system.caf"));
    CafWriter microphone(folder + QStringLiteral("/microphone.caf"));
    PcmBuffer buffer(kWorkingFormat, AudioFiles::kExportChunkFrames);
    Oscillator low(220.0), high(1000.0), swell(0.1);
    Noise noise;
    float filtered = 0.0f;
    for (qint64 done = 0; done < frames;) {
        const qint64 count = std::min(frames - done, AudioFiles::kExportChunkFrames);
        buffer.setFrameLength(count);
        auto left = buffer.channel(0);
        auto right = buffer.channel(1);
        for (qint64 i = 0; i < count; ++i) {
            const float level = 0.2f + 0.1f * swell.next();
            const float tone = low.next() * level + high.next() * level * 0.5f;
            left[static_cast<std::size_t>(i)] = tone + 0.02f * noise.next();
            right[static_cast<std::size_t>(i)] = tone * 0.8f + 0.02f * noise.next();
        }
        system.write(buffer);
        for (qint64 i = 0; i < count; ++i) {
            const bool speaking = ((done + i) / 33600) % 3 != 2;
            filtered += 0.15f * (noise.next() - filtered);
            const float sample = speaking ? 0.6f * filtered : 0.0f;
            left[static_cast<std::size_t>(i)] = sample;
            right[static_cast<std::size_t>(i)] = sample;
        }
        microphone.write(buffer);
        done += count;
    }
    system.close();
    microphone.close();
}

struct ChildResult {
    bool ok = false;
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0;
    long maxRssKib = 0; // ru_maxrss from wait4
    std::string output; // what the child wrote to its standard output
};

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Starts `arguments` (the first is the program, looked up in PATH), waits for it and measures it.
ChildResult run(const std::vector<std::string>& arguments, const QString& outputFile) {
    ChildResult result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray output = QFile::encodeName(outputFile);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(spawned));
        return result;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return result;
    }
    result.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.maxRssKib = usage.ru_maxrss;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    QFile file(outputFile);
    if (file.open(QIODevice::ReadOnly)) {
        result.output = file.readAll().toStdString();
    }
    return result;
}

// The peak resident set of this process in KiB (VmHWM), or −1.
long peakRssKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

long childPeakKib(const ChildResult& result) {
    const auto at = result.output.find("peak_rss_kib=");
    return at == std::string::npos ? -1 : std::stol(result.output.substr(at + 13));
}

// The child: exports a session folder and reports its own peak memory.
int exportChild(const QString& folder, const QString& format, const QString& destination) {
    try {
        const QStringList tracks{folder + QStringLiteral("/system.caf"),
                                 folder + QStringLiteral("/microphone.caf")};
        qint64 frames = 0;
        for (const auto& track : tracks) {
            frames = std::max(frames, CafReader(track).length());
        }
        AudioFiles::exportTracks(tracks, destination, frames,
                                 format == QStringLiteral("wav") ? AudioOutputFormat::wav
                                                                 : AudioOutputFormat::aac,
                                 false);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "export failed: %s\n", error.what());
        return 1;
    }
    std::printf("peak_rss_kib=%ld\n", peakRssKib());
    return 0;
}

struct Runner {
    std::string self;
    QString scratch;

    ChildResult kivo(const QString& session, const char* format, const QString& destination) {
        return run(
            {self, "--export-child", session.toStdString(), format, destination.toStdString()},
            scratch + QStringLiteral("/child.out"));
    }
    ChildResult ffmpeg(const QString& session, const QString& destination) {
        return run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i",
                    (session + QStringLiteral("/system.caf")).toStdString(), "-i",
                    (session + QStringLiteral("/microphone.caf")).toStdString(), "-filter_complex",
                    "amix=inputs=2:normalize=0", "-c:a", "aac", "-b:a", "128k",
                    destination.toStdString()},
                   scratch + QStringLiteral("/ffmpeg.out"));
    }
};

// The ffmpeg tool must read Kivo's track files exactly as CafReader does.
bool ffmpegReadsTrackFiles(Runner& runner, const QString& session) {
    const QString track = session + QStringLiteral("/microphone.caf");
    const QString raw = runner.scratch + QStringLiteral("/first-second.f32");
    const ChildResult decoded =
        run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", track.toStdString(), "-t", "1", "-f",
             "f32le", raw.toStdString()},
            runner.scratch + QStringLiteral("/probe.out"));
    QFile file(raw);
    if (!decoded.ok || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    std::vector<float> left(kRate), right(kRate);
    CafReader reader(track);
    if (reader.read(left.data(), right.data(), kRate) != kRate ||
        bytes.size() != static_cast<qsizetype>(kRate * 2 * sizeof(float))) {
        return false;
    }
    std::vector<float> interleaved(static_cast<std::size_t>(kRate * 2));
    std::memcpy(interleaved.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
    for (std::size_t i = 0; i < static_cast<std::size_t>(kRate); ++i) {
        if (interleaved[2 * i] != left[i] || interleaved[2 * i + 1] != right[i]) {
            return false;
        }
    }
    return true;
}

double mib(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--export-child") == 0) {
        return exportChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                           QString::fromLocal8Bit(argv[4]));
    }
    int rounds = 3;
    bool skipLong = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--skip-long") == 0) {
            skipLong = true;
        }
    }

    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    char selfPath[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", selfPath, sizeof selfPath - 1);
    if (length <= 0) {
        std::fprintf(stderr, "cannot find this program\n");
        return 1;
    }
    Runner runner{std::string(selfPath, static_cast<std::size_t>(length)), scratch.path()};

    const QString tenMinutes = scratch.filePath(QStringLiteral("ten-minutes"));
    QDir().mkpath(tenMinutes);
    writeSession(tenMinutes, kTenMinutes);
    const bool readable = ffmpegReadsTrackFiles(runner, tenMinutes);
    std::printf("ffmpeg_reads_track_files: %s\n", readable ? "yes" : "no");
    if (!readable) {
        return 1;
    }

    std::optional<ChildResult> bestKivo, bestTool, bestWav;
    const auto keepBest = [](std::optional<ChildResult>& best, const ChildResult& result) {
        if (!best || result.wallSeconds < best->wallSeconds) {
            best = result;
        }
    };
    for (int round = 0; round < rounds; ++round) {
        const ChildResult kivo =
            runner.kivo(tenMinutes, "aac", scratch.filePath(QStringLiteral("kivo.m4a")));
        const ChildResult tool =
            runner.ffmpeg(tenMinutes, scratch.filePath(QStringLiteral("tool.m4a")));
        const ChildResult wav =
            runner.kivo(tenMinutes, "wav", scratch.filePath(QStringLiteral("kivo.wav")));
        if (!kivo.ok || !tool.ok || !wav.ok) {
            std::fprintf(stderr, "an export failed\n");
            return 1;
        }
        keepBest(bestKivo, kivo);
        keepBest(bestTool, tool);
        keepBest(bestWav, wav);
    }
    const double audioSeconds = static_cast<double>(kTenMinutes) / static_cast<double>(kRate);
    std::printf("kivo_aac_export_seconds: %.2f (cpu %.2f)\n", bestKivo->wallSeconds,
                bestKivo->cpuSeconds);
    std::printf("ffmpeg_aac_export_seconds: %.2f (cpu %.2f)\n", bestTool->wallSeconds,
                bestTool->cpuSeconds);
    std::printf("aac_export_vs_ffmpeg: %.3f\n", bestKivo->wallSeconds / bestTool->wallSeconds);
    std::printf("aac_export_vs_ffmpeg_cpu: %.3f\n", bestKivo->cpuSeconds / bestTool->cpuSeconds);
    std::printf("wav_export_seconds: %.2f\n", bestWav->wallSeconds);
    std::printf("wav_export_realtime: %.1f\n", audioSeconds / bestWav->wallSeconds);
    std::fflush(stdout);

    if (skipLong) {
        return 0;
    }
    const QString sixtyMinutes = scratch.filePath(QStringLiteral("sixty-minutes"));
    QDir().mkpath(sixtyMinutes);
    writeSession(sixtyMinutes, kSixtyMinutes);
    const ChildResult tenAgain =
        runner.kivo(tenMinutes, "aac", scratch.filePath(QStringLiteral("ten.m4a")));
    const ChildResult sixty =
        runner.kivo(sixtyMinutes, "aac", scratch.filePath(QStringLiteral("sixty.m4a")));
    const ChildResult tenWav =
        runner.kivo(tenMinutes, "wav", scratch.filePath(QStringLiteral("ten.wav")));
    const ChildResult sixtyWav =
        runner.kivo(sixtyMinutes, "wav", scratch.filePath(QStringLiteral("sixty.wav")));
    if (!tenAgain.ok || !sixty.ok || !sixtyWav.ok || !tenWav.ok) {
        std::fprintf(stderr, "an export failed\n");
        return 1;
    }
    const long tenPeak = childPeakKib(tenAgain);
    const long sixtyPeak = childPeakKib(sixty);
    std::printf("export_peak_rss_10min_mib: %.1f (ru_maxrss %.1f)\n", mib(tenPeak),
                mib(tenAgain.maxRssKib));
    std::printf("export_peak_rss_60min_mib: %.1f (ru_maxrss %.1f)\n", mib(sixtyPeak),
                mib(sixty.maxRssKib));
    std::printf("export_rss_growth_mib: %.1f\n", mib(sixtyPeak - tenPeak));
    std::printf("wav_export_rss_growth_mib: %.1f\n",
                mib(childPeakKib(sixtyWav) - childPeakKib(tenWav)));
    return 0;
}
