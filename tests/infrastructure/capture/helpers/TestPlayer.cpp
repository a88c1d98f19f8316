// A stand-in application for the capture tests, playing known signals through the sound server:
//   kivo_test_player [--name NAME] DEVICE,SIGNAL,FREQUENCY,AMPLITUDE,START,DURATION...
// one playback stream each, on a sink or "default", a "tone" (sine) or "clicks" (2 ms of it every
// 0.5 s from 0.25 s), opening START seconds after launch and lasting DURATION seconds or
// "forever". Prints "playing N" when stream N has opened and "done N" when it has finished.

#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kChunkFrames = 480;

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
    const pa_buffer_attr attributes{any, kRate / 25 * 8, any, any, any}; // 40 ms ahead
    int error = 0;
    const bool toDefault = std::strcmp(spec.device, "default") == 0;
    pa_simple* stream =
        pa_simple_new(nullptr, name, PA_STREAM_PLAYBACK, toDefault ? nullptr : spec.device,
                      "test signal", &format, nullptr, &attributes, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "kivo_test_player: stream %d: %s\n", number, pa_strerror(error));
        std::exit(1);
    }
    std::printf("playing %d\n", number);
    std::fflush(stdout);
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
    }
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
