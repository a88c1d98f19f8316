// How soon a press on play is heard: from asking for a record's playback (opening the file, as
// the model does on a press) to the first frame the sound server has played, by the stream's own
// clock, for a file played for the first time in the process (a new sound server connection) and
// for a file played again. Needs a sound server (scripts/bench starts a private PulseAudio).
// Reference, in the same run: the same measurement on a bare libpulse playback stream that is
// given the same audio at once.
//
//   kivo_bench_playback

#include "infrastructure/audio/FfmpegAudioPlayerFactory.h"
#include "infrastructure/audio/WavFileWriter.h"
#include "infrastructure/pulse/PulseConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace kivo;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs the event loop until `condition` holds, checking every millisecond.
void spinUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || timer.elapsed() > 10000) {
            loop.quit();
        }
    });
    poll.start(1);
    loop.exec();
}

// Milliseconds from opening `path` to its first played frame.
double kivoPlayback(AudioPlayerFactory& factory, const QString& path) {
    QElapsedTimer timer;
    timer.start();
    auto player = factory.open(path);
    player->play();
    spinUntil([&] { return player->currentTime() > 0; });
    return double(timer.nsecsElapsed()) / 1e6;
}

// The same on a bare stream: connected with the player's buffering and given audio at once.
double barePlayback() {
    QElapsedTimer timer;
    timer.start();
    PulseConnection connection;
    pa_stream* stream = nullptr;
    {
        PulseConnection::Lock lock(connection);
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
        stream = pa_stream_new(connection.context(), "reference", &spec, nullptr);
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* data) { static_cast<PulseConnection*>(data)->signal(); },
            &connection);
        const auto any = static_cast<uint32_t>(-1);
        pa_buffer_attr attributes{any, 4800 * 8, any, any, any};
        pa_stream_connect_playback(stream, nullptr, &attributes,
                                   static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                                  PA_STREAM_INTERPOLATE_TIMING |
                                                                  PA_STREAM_AUTO_TIMING_UPDATE),
                                   nullptr, nullptr);
        while (pa_stream_get_state(stream) == PA_STREAM_CREATING) {
            connection.wait();
        }
        std::vector<float> tone(48000 * 2);
        for (std::size_t i = 0; i < tone.size(); ++i) {
            tone[i] = 0.2F * float(std::sin(2 * 3.14159 * 440 * double(i / 2) / 48000));
        }
        pa_stream_write(stream, tone.data(), tone.size() * sizeof(float), nullptr, 0,
                        PA_SEEK_RELATIVE);
    }
    for (;;) {
        {
            PulseConnection::Lock lock(connection);
            pa_usec_t played = 0;
            if ((pa_stream_get_time(stream, &played) == 0 && played > 0) ||
                timer.elapsed() > 10000) {
                break;
            }
        }
        QThread::usleep(500);
    }
    const double milliseconds = double(timer.nsecsElapsed()) / 1e6;
    PulseConnection::Lock lock(connection);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    return milliseconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("tone.wav"));
    {
        WavFileWriter file(path, 16, 48000 * 3);
        std::vector<float> tone(48000 * 3);
        for (std::size_t i = 0; i < tone.size(); ++i) {
            tone[i] = 0.2F * float(std::sin(2 * 3.14159 * 440 * double(i) / 48000));
        }
        file.write(tone.data(), tone.data(), qint64(tone.size()));
        file.finish();
    }
    std::vector<double> first, again, bare;
    for (int round = 0; round < 5; ++round) {
        FfmpegAudioPlayerFactory factory;
        first.push_back(kivoPlayback(factory, path));
        again.push_back(kivoPlayback(factory, path));
        bare.push_back(barePlayback());
    }
    std::printf("play_to_first_frame_ms: %.1f\n", median(first));
    std::printf("play_again_to_first_frame_ms: %.1f\n", median(again));
    std::printf("bare_stream_to_first_frame_ms: %.1f\n", median(bare));
    std::printf("play_to_first_frame_vs_bare_stream: %.3f\n", median(first) / median(bare));
    return 0;
}
