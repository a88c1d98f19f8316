#include "infrastructure/audio/AudioFiles.h"

#include "domain/KivoError.h"
#include "infrastructure/audio/AudioFileWriter.h"
#include "infrastructure/audio/CafFile.h"
#include "infrastructure/audio/PcmBuffer.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>
#include <vector>

namespace kivo::AudioFiles {

namespace {

void addInto(std::span<float> mix, std::span<const float> samples, qint64 frames) {
    for (qint64 i = 0; i < frames; ++i) {
        mix[static_cast<std::size_t>(i)] += samples[static_cast<std::size_t>(i)];
    }
}

// Hard clipping to −1.0…1.0. A sample that is not a number becomes silence: the AAC encoder
// refuses such input, and one bad sample must not cost the whole file.
void clip(std::span<float> mix, qint64 frames) {
    for (qint64 i = 0; i < frames; ++i) {
        float& sample = mix[static_cast<std::size_t>(i)];
        sample = std::isnan(sample) ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
    }
}

} // namespace

void exportTracks(const QStringList& tracks, const QString& destination, qint64 frames,
                  AudioOutputFormat format, bool highQuality,
                  const std::function<void(qint64 framesWritten)>& progress) {
    if (frames < 1 || tracks.isEmpty()) {
        throw KivoError::message(QStringLiteral("沒有收到可保存的音訊。請確認來源與錄音權限。"));
    }

    std::vector<std::unique_ptr<CafReader>> readers;
    readers.reserve(static_cast<std::size_t>(tracks.size()));
    for (const QString& track : tracks) {
        readers.push_back(std::make_unique<CafReader>(track));
    }

    const auto writer = AudioFileWriter::create(destination, format, highQuality, frames);

    PcmBuffer mix(kWorkingFormat, kExportChunkFrames);
    PcmBuffer read(kWorkingFormat, kExportChunkFrames);
    const auto mixLeft = mix.channel(0);
    const auto mixRight = mix.channel(1);
    const auto readLeft = read.channel(0);
    const auto readRight = read.channel(1);

    qint64 written = 0;
    while (written < frames) {
        const qint64 chunk = std::min(frames - written, kExportChunkFrames);
        mix.setFrameLength(chunk);
        mix.silence(chunk);
        for (const auto& reader : readers) {
            read.setFrameLength(0);
            if (reader->position() < reader->length()) {
                read.setFrameLength(reader->read(readLeft.data(), readRight.data(), chunk));
            }
            addInto(mixLeft, readLeft, read.frameLength());
            addInto(mixRight, readRight, read.frameLength());
        }
        clip(mixLeft, chunk);
        clip(mixRight, chunk);
        writer->write(mixLeft.data(), mixRight.data(), chunk);
        written += chunk;
        if (progress) {
            progress(written);
        }
    }
    writer->finish();
}

} // namespace kivo::AudioFiles
