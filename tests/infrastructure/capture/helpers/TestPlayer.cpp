// A stand-in application for the capture tests, playing known signals through the sound server:
//   kivo_test_player [--name NAME] DEVICE,SIGNAL,FREQUENCY,AMPLITUDE,START,DURATION...
// one playback stream each, on a sink or "default", a "tone" (sine) or "clicks" (2 ms of it every
// 0.5 s from 0.25 s), opening START seconds after launch and lasting DURATION seconds or
// "forever". Prints "playing N" once stream N has handed the server its first 100 ms (so that it
// plays), and "done N" when it has finished. The server holds 40 ms ahead (more would make
// PipeWire choose a longer graph cycle); so that a busy machine does not leave holes in what the
// tests record, the player runs at a real-time priority where it may.

#include <pulse/error.h>
#include <pulse/simple.h>

#include <sched.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kChunkFrames = 480;
constexpr int kAheadFrames = kRate / 25;    // 40 ms
constexpr int kAnnounceFrames = kRate / 10; // 100 ms

struct StreamSpec {
    char device[128] = {};
    char signal[16] = {};
    double frequency = 0, amplitude = 0, start = 0;
    char duration[32] = {};
};

void play(const char* name, const StreamSpec& spec, int number,
          std::chrono::steady_clock::time_point launch) {
    std::this_thread::sleep_until(launch + std::chrono::duration<double>(spec.start));
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 2};
    const auto any = static_cast<uint32_t>(-1);
    const pa_buffer_attr attributes{any, kAheadFrames * 8, any, any, any};
    int error = 0;
    const bool toDefault = std::strcmp(spec.device, "default") == 0;
    pa_simple* stream =
        pa_simple_new(nullptr, name, PA_STREAM_PLAYBACK, toDefault ? nullptr : spec.device,
                      "test signal", &format, nullptr, &attributes, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "kivo_test_player: stream %d: %s\n", number, pa_strerror(error));
        std::exit(1);
    }
    auto announce = [number, announced = false]() mutable {
        if (!std::exchange(announced, true)) {
            std::printf("playing %d\n", number);
            std::fflush(stdout);
        }
    };
    const bool forever = std::strcmp(spec.duration, "forever") == 0;
    const long total = forever ? -1L : std::lround(std::atof(spec.duration) * kRate);
    const bool clicks = std::strcmp(spec.signal, "clicks") == 0;
    std::vector<float> chunk(std::size_t{kChunkFrames} * 2);
    for (long frame = 0; total < 0 || frame < total; frame += kChunkFrames) {
        for (int i = 0; i < kChunkFrames; ++i) {
            const long n = frame + i;
            const bool silent = (total >= 0 && n >= total) ||
                                (clicks && (n + kRate / 4) % (kRate / 2) >= kRate / 500);
            const double phase = 2.0 * std::numbers::pi * spec.frequency * double(n) / kRate;
            chunk[std::size_t(2 * i)] = chunk[std::size_t(2 * i + 1)] =
                silent ? 0.0F : static_cast<float>(spec.amplitude * std::sin(phase));
        }
        if (pa_simple_write(stream, chunk.data(), chunk.size() * sizeof(float), &error) < 0) {
            std::fprintf(stderr, "kivo_test_player: stream %d: %s\n", number, pa_strerror(error));
            std::exit(1);
        }
        if (frame + kChunkFrames >= kAnnounceFrames) {
            announce(); // the server starts playing once it holds that much
        }
    }
    announce();
    pa_simple_drain(stream, &error);
    pa_simple_free(stream);
    std::printf("done %d\n", number);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const char* name = "Kivo Test Player";
    std::vector<StreamSpec> specs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
            name = argv[++i];
            continue;
        }
        StreamSpec spec;
        if (std::sscanf(argv[i], "%127[^,],%15[^,],%lf,%lf,%lf,%31s", spec.device, spec.signal,
                        &spec.frequency, &spec.amplitude, &spec.start, spec.duration) != 6) {
            std::fprintf(stderr, "kivo_test_player: bad stream \"%s\"\n", argv[i]);
            return 2;
        }
        specs.push_back(spec);
    }
    // Where the system lets it (as root), a busy machine does not keep the player from writing.
    const sched_param priority{10};
    sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &priority);
    const auto launch = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        threads.emplace_back(play, name, specs[i], static_cast<int>(i), launch);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return specs.empty() ? 2 : 0;
}
