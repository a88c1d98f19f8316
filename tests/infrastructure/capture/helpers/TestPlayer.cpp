// A stand-in application for the capture tests: one process that plays known signals through the
// sound server, each on its own playback stream, starting and ending when told.
//
//   kivo_test_player [--name NAME] STREAM...
//   STREAM = DEVICE,SIGNAL,FREQUENCY,AMPLITUDE,START,DURATION
//     DEVICE     a sink name, or "default"
//     SIGNAL     "tone" (a sine), or "clicks" (a 2 ms burst of the sine every 0.5 s, the first
//                0.25 s after the stream starts)
//     START      seconds after launch at which the stream opens
//     DURATION   seconds of signal, or "forever"
//
// The client is named NAME (default "Kivo Test Player"). Each stream prints "playing N" when it
// has opened and "done N" when it has finished. Exits when every stream is done.

#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kChunkFrames = 480;

struct StreamSpec {
    std::string device;
    std::string signal;
    double frequency = 440.0;
    double amplitude = 0.3;
    double start = 0.0;
    double duration = 1.0; // negative: forever
};

std::mutex outputLock;

void say(const std::string& line) {
    const std::lock_guard lock(outputLock);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool parse(const std::string& text, StreamSpec& spec) {
    std::vector<std::string> fields;
    std::stringstream stream(text);
    std::string field;
    while (std::getline(stream, field, ',')) {
        fields.push_back(field);
    }
    if (fields.size() != 6 || (fields[1] != "tone" && fields[1] != "clicks")) {
        return false;
    }
    spec.device = fields[0];
    spec.signal = fields[1];
    spec.frequency = std::atof(fields[2].c_str());
    spec.amplitude = std::atof(fields[3].c_str());
    spec.start = std::atof(fields[4].c_str());
    spec.duration = fields[5] == "forever" ? -1.0 : std::atof(fields[5].c_str());
    return true;
}

void play(const std::string& name, const StreamSpec& spec, int number,
          std::chrono::steady_clock::time_point launch) {
    std::this_thread::sleep_until(launch + std::chrono::duration<double>(spec.start));

    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 2};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(kRate / 25 * 8); // 40 ms
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, name.c_str(), PA_STREAM_PLAYBACK,
                                      spec.device == "default" ? nullptr : spec.device.c_str(),
                                      "test signal", &format, nullptr, &attributes, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "kivo_test_player: stream %d: %s\n", number, pa_strerror(error));
        std::exit(1);
    }
    say("playing " + std::to_string(number));

    const auto total = spec.duration < 0.0 ? -1L : std::lround(spec.duration * kRate);
    const auto step = 2.0 * std::numbers::pi * spec.frequency / kRate;
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * 2);
    for (long frame = 0; total < 0 || frame < total; frame += kChunkFrames) {
        for (int i = 0; i < kChunkFrames; ++i) {
            const auto n = frame + i;
            auto value =
                static_cast<float>(spec.amplitude * std::sin(step * static_cast<double>(n)));
            if (spec.signal == "clicks") {
                const auto inPeriod = (n + kRate / 4) % (kRate / 2);
                value = inPeriod < kRate / 500 ? value : 0.0F;
            }
            if (total >= 0 && n >= total) {
                value = 0.0F;
            }
            chunk[static_cast<std::size_t>(2 * i)] = value;
            chunk[static_cast<std::size_t>(2 * i + 1)] = value;
        }
        if (pa_simple_write(stream, chunk.data(), chunk.size() * sizeof(float), &error) < 0) {
            std::fprintf(stderr, "kivo_test_player: stream %d: %s\n", number, pa_strerror(error));
            std::exit(1);
        }
    }
    pa_simple_drain(stream, &error);
    pa_simple_free(stream);
    say("done " + std::to_string(number));
}

} // namespace

int main(int argc, char** argv) {
    std::string name = "Kivo Test Player";
    std::vector<StreamSpec> specs;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--name" && i + 1 < argc) {
            name = argv[++i];
            continue;
        }
        StreamSpec spec;
        if (!parse(argument, spec)) {
            std::fprintf(stderr, "kivo_test_player: bad stream \"%s\"\n", argument.c_str());
            return 2;
        }
        specs.push_back(spec);
    }
    if (specs.empty()) {
        std::fprintf(stderr, "usage: kivo_test_player [--name NAME] STREAM...\n");
        return 2;
    }
    const auto launch = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        threads.emplace_back(play, name, specs[i], static_cast<int>(i), launch);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return 0;
}
