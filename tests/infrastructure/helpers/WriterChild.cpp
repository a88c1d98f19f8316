// Writes known audio until it is killed, printing the frames appended so far after each append:
// `kivo_writer_child track PATH` through one track, `kivo_writer_child session ROOT OUTPUT`
// through a session writer (printing the session folder first). Frame f holds (f mod 1000) / 1000
// on the left and its negation on the right; a track starts after kLeadIn frames of silence.

#include "infrastructure/audio/AudioRecordingWriter.h"
#include "infrastructure/audio/AudioTrack.h"

#include <QCoreApplication>
#include <QUrl>

#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

using namespace kivo;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool session = argc == 4 && std::strcmp(argv[1], "session") == 0;
    if (!session && argc != 3) {
        return 2;
    }
    std::unique_ptr<AudioTrack> track;
    std::unique_ptr<AudioRecordingWriter> writer;
    if (session) {
        RecordingConfiguration configuration(
            QUrl::fromLocalFile(QString::fromLocal8Bit(argv[3]) + QLatin1Char('/')));
        configuration.includesMicrophone = false;
        configuration.systemGain = 1.0F;
        writer =
            std::make_unique<AudioRecordingWriter>(configuration, QString::fromLocal8Bit(argv[2]));
        std::printf("%s\n", qPrintable(writer->directory()));
        writer->activate(0.0);
    } else {
        track = std::make_unique<AudioTrack>(QString::fromLocal8Bit(argv[2]));
    }
    constexpr qint64 kFrames = 480;
    const qint64 leadIn = session ? 0 : 480;
    // Bounded so that a test that fails to kill it does not leave it running for long.
    for (qint64 first = leadIn; first < 48000 * 600; first += kFrames) {
        PcmBuffer buffer(kWorkingFormat, kFrames);
        buffer.setFrameLength(kFrames);
        for (qint64 i = 0; i < kFrames; ++i) {
            const float value = static_cast<float>((first + i) % 1000) / 1000.0F;
            buffer.channel(0)[static_cast<std::size_t>(i)] = value;
            buffer.channel(1)[static_cast<std::size_t>(i)] = -value;
        }
        const double at = static_cast<double>(first) / 48000.0;
        if (session) {
            writer->queue().sync([&] { writer->append(buffer, AudioSource::system, at); });
        } else {
            track->append(buffer, at, 1.0F);
        }
        std::printf("%lld\n", static_cast<long long>(first + kFrames));
        std::fflush(stdout);
        ::usleep(500);
    }
    return 0;
}
