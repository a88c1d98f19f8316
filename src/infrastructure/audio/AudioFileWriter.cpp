#include "infrastructure/audio/AudioFileWriter.h"

#include "infrastructure/audio/AacFileWriter.h"
#include "infrastructure/audio/WavFileWriter.h"

namespace kivo {

std::unique_ptr<AudioFileWriter> AudioFileWriter::create(const QString& path,
                                                         AudioOutputFormat format, bool highQuality,
                                                         qint64 expectedFrames) {
    switch (format) {
    case AudioOutputFormat::aac:
        return std::make_unique<AacFileWriter>(
            path, highQuality ? AacFileWriter::kHighBitRate : AacFileWriter::kStandardBitRate,
            expectedFrames);
    case AudioOutputFormat::wav:
        return std::make_unique<WavFileWriter>(
            path, highQuality ? WavFileWriter::kHighBitDepth : WavFileWriter::kStandardBitDepth,
            expectedFrames);
    }
    Q_UNREACHABLE();
}

} // namespace kivo
