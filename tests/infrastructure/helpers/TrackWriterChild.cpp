// Appends known audio to a track file until it is killed, printing the track's length in frames
// after every append: `kivo_track_writer_child PATH`.

#include "TrackWriterPattern.h"

#include "infrastructure/audio/AudioTrack.h"

#include <QString>

#include <cstdio>
#include <exception>

#include <unistd.h>

int main(int argc, char** argv) {
    using namespace kivo::test::trackwriter;
    if (argc != 2) {
        std::fprintf(stderr, "usage: kivo_track_writer_child PATH\n");
        return 2;
    }
    try {
        kivo::AudioTrack track(QString::fromLocal8Bit(argv[1]));
        // Bounded so that a test that fails to kill it does not leave it running for long.
        for (int index = 0; index < 200000; ++index) {
            const qint64 first = kLeadInFrames + index * kBufferFrames;
            kivo::PcmBuffer buffer(kivo::kWorkingFormat, kBufferFrames);
            for (qint64 i = 0; i < kBufferFrames; ++i) {
                buffer.channel(0)[static_cast<std::size_t>(i)] = sample(first + i, 0);
                buffer.channel(1)[static_cast<std::size_t>(i)] = sample(first + i, 1);
            }
            buffer.setFrameLength(kBufferFrames);
            track.append(buffer, static_cast<double>(first) / 48000.0, 1.0f);
            std::printf("%lld\n", static_cast<long long>(track.position()));
            std::fflush(stdout);
            ::usleep(200);
        }
        track.close();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
