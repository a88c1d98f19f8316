// Test helper: records synthetic system audio through a session writer until it
// is killed, printing the session folder, then the number of frames appended
// after each append.

#include "infrastructure/audio/AudioRecordingWriter.h"

#include <QCoreApplication>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace kivo;

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3) {
    return 2;
  }
  RecordingConfiguration configuration(
      QUrl::fromLocalFile(QString::fromLocal8Bit(argv[2]) + QLatin1Char('/')));
  configuration.includesMicrophone = false;
  configuration.systemGain = 1.0F;
  AudioRecordingWriter writer(configuration, QString::fromLocal8Bit(argv[1]));
  std::printf("%s\n", qPrintable(writer.directory()));
  std::fflush(stdout);

  writer.activate(0.0);
  constexpr qint64 kFrames = 960;
  for (qint64 start = 0;; start += kFrames) {
    PcmBuffer buffer(kWorkingFormat, kFrames);
    buffer.setFrameLength(kFrames);
    for (qint64 i = 0; i < kFrames; ++i) {
      const float value = static_cast<float>((start + i) % 1000) / 1000.0F;
      buffer.channel(0)[static_cast<std::size_t>(i)] = value;
      buffer.channel(1)[static_cast<std::size_t>(i)] = -value;
    }
    writer.queue().sync([&] {
      writer.append(buffer, AudioSource::system,
                    static_cast<double>(start) / 48000.0);
    });
    std::printf("%lld\n", static_cast<long long>(start + kFrames));
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}
