// Counts the holes in a recording of a steady sine tone: stretches of digital silence, and the
// places where samples are missing so that the tone's phase jumps. Used by scripts/soak to
// compare Kivo's files with a reference recorder's.
//
//   kivo_gap_counter [--skip SECONDS] [--list] FILE...
//
// Prints one line per file: `FILE<TAB>holes=N<TAB>longest_ms=X<TAB>seconds=S`, where
// longest_ms is the longest silent stretch (a phase jump has no length of its own). SECONDS
// (default 1) are left out at both ends, where recorders start and stop. With --list, each hole
// follows on a line of its own: `<TAB>at=SECONDS<TAB>silent_ms=X` (0 for a phase jump), so that
// the holes of two recordings of the same sources can be matched by their spacing.

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Hole {
    double at = 0;       // seconds from the file's start
    double silentMs = 0; // 0: a phase jump
};

struct Holes {
    int count = 0;
    std::vector<Hole> list;
    double longestMs = 0;
    double seconds = 0;
};

// The first channel of the file, or nothing when it cannot be read.
std::vector<float> readFirstChannel(const char* path, int& rate) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    rate = info.samplerate;
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    std::vector<float> first(static_cast<std::size_t>(read));
    for (sf_count_t frame = 0; frame < read; ++frame) {
        first[static_cast<std::size_t>(frame)] =
            interleaved[static_cast<std::size_t>(frame * info.channels)];
    }
    return first;
}

Holes countHoles(const std::vector<float>& x, int rate, double skipSeconds) {
    Holes holes;
    const auto skip = static_cast<std::size_t>(skipSeconds * rate);
    if (x.size() < 2 * skip + 3) {
        return holes;
    }
    const std::size_t begin = skip + 1;
    const std::size_t end = x.size() - skip - 1;
    holes.seconds = double(end - begin) / rate;

    // A clean sine obeys x[n+1] = 2 cos(w) x[n] - x[n-1]: fit cos(w) by least squares, and the
    // amplitude from the power.
    double cross = 0;
    double power = 0;
    for (std::size_t n = begin; n < end; ++n) {
        cross += double(x[n]) * (double(x[n + 1]) + double(x[n - 1]));
        power += double(x[n]) * x[n];
    }
    if (power <= 0) {
        holes.count = 1;
        holes.longestMs = holes.seconds * 1000;
        return holes;
    }
    const double twoCos = cross / power;
    const double amplitude = std::sqrt(2 * power / double(end - begin));
    const double jump = 0.02 * amplitude;
    const auto minimumSilence = static_cast<std::size_t>(rate / 1000); // 1 ms
    const auto merge = static_cast<std::size_t>(rate / 100);           // 10 ms

    std::size_t lastEvent = 0;
    bool any = false;
    std::size_t n = begin;
    while (n < end) {
        std::size_t silentEnd = n;
        while (silentEnd < end && x[silentEnd] == 0.0F) {
            ++silentEnd;
        }
        const bool silence = silentEnd - n >= minimumSilence;
        const bool broken = std::abs(double(x[n + 1]) - twoCos * x[n] + double(x[n - 1])) > jump;
        if (silence || broken) {
            // The edges of one hole break the recurrence too: one hole, not three.
            if (!any || n > lastEvent + merge) {
                ++holes.count;
                holes.list.push_back({double(n) / rate, 0});
            }
            any = true;
            if (silence) {
                const double ms = double(silentEnd - n) * 1000.0 / rate;
                holes.longestMs = std::max(holes.longestMs, ms);
                holes.list.back().silentMs = std::max(holes.list.back().silentMs, ms);
                n = silentEnd;
            }
            lastEvent = n;
        }
        ++n;
    }
    return holes;
}

} // namespace

int main(int argc, char** argv) {
    double skip = 1.0;
    bool list = false;
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--skip") == 0 && i + 1 < argc) {
            skip = std::atof(argv[++i]);
            continue;
        }
        if (std::strcmp(argv[i], "--list") == 0) {
            list = true;
            continue;
        }
        int rate = 0;
        const std::vector<float> samples = readFirstChannel(argv[i], rate);
        if (samples.empty() || rate <= 0) {
            std::fprintf(stderr, "kivo_gap_counter: cannot read %s\n", argv[i]);
            status = 1;
            continue;
        }
        const Holes holes = countHoles(samples, rate, skip);
        std::printf("%s\tholes=%d\tlongest_ms=%.1f\tseconds=%.1f\n", argv[i], holes.count,
                    holes.longestMs, holes.seconds);
        for (const Hole& hole : list ? holes.list : std::vector<Hole>{}) {
            std::printf("\tat=%.4f\tsilent_ms=%.1f\n", hole.at, hole.silentMs);
        }
    }
    return status;
}
