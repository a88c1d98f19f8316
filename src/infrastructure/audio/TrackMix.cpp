#include "infrastructure/audio/TrackMix.h"

#include "domain/KivoError.h"
#include "infrastructure/audio/AudioFileWriter.h"
#include "infrastructure/audio/CafReader.h"
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

struct TrackMix::Parts {
    std::vector<std::unique_ptr<CafReader>> readers;
    std::unique_ptr<AudioFileWriter> writer;
    PcmBuffer mix{kWorkingFormat, kExportChunkFrames};
    PcmBuffer read{kWorkingFormat, kExportChunkFrames};
};

TrackMix::TrackMix(const QStringList& tracks, const QString& destination, AudioOutputFormat format,
                   bool highQuality, qint64 expectedFrames)
    : m_parts(std::make_unique<Parts>()) {
    m_parts->readers.reserve(static_cast<std::size_t>(tracks.size()));
    for (const QString& track : tracks) {
        m_parts->readers.push_back(std::make_unique<CafReader>(track));
    }
    m_parts->writer = AudioFileWriter::create(destination, format, highQuality, expectedFrames);
}

TrackMix::~TrackMix() = default;

void TrackMix::mixUpTo(qint64 frame, const std::vector<qint64>& trackEnds,
                       const std::function<void(qint64 framesWritten)>& progress) {
    auto& mix = m_parts->mix;
    auto& read = m_parts->read;
    const auto mixLeft = mix.channel(0);
    const auto mixRight = mix.channel(1);
    const auto readLeft = read.channel(0);
    const auto readRight = read.channel(1);
    for (std::size_t i = 0; i < trackEnds.size() && i < m_parts->readers.size(); ++i) {
        m_parts->readers[i]->extendTo(trackEnds[i]);
    }

    while (m_written < frame) {
        const qint64 chunk = std::min(frame - m_written, kExportChunkFrames);
        mix.setFrameLength(chunk);
        mix.silence(chunk);
        for (std::size_t i = 0; i < m_parts->readers.size(); ++i) {
            auto& reader = *m_parts->readers[i];
            const qint64 end =
                i < trackEnds.size() ? std::min(trackEnds[i], reader.length()) : reader.length();
            read.setFrameLength(0);
            if (reader.position() < end) {
                read.setFrameLength(reader.read(readLeft.data(), readRight.data(),
                                                std::min(chunk, end - reader.position())));
            }
            addInto(mixLeft, readLeft, read.frameLength());
            addInto(mixRight, readRight, read.frameLength());
        }
        clip(mixLeft, chunk);
        clip(mixRight, chunk);
        m_parts->writer->write(mixLeft.data(), mixRight.data(), chunk);
        m_written += chunk;
        if (progress) {
            progress(m_written);
        }
    }
}

void TrackMix::finish(const QList<RecordingMarker>& markers) {
    m_parts->writer->setMarkers(markers);
    m_parts->writer->finish();
}

void exportTracks(const QStringList& tracks, const QString& destination, qint64 frames,
                  AudioOutputFormat format, bool highQuality,
                  const std::function<void(qint64 framesWritten)>& progress,
                  const QList<RecordingMarker>& markers) {
    if (frames < 1 || tracks.isEmpty()) {
        throw KivoError::message(QStringLiteral("沒有收到可保存的音訊。請確認來源與錄音權限。"));
    }
    TrackMix mix(tracks, destination, format, highQuality, frames);
    mix.mixUpTo(frames, {}, progress);
    mix.finish(markers);
}

} // namespace kivo::AudioFiles
