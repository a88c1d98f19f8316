#pragma once

// Makes the players of recorded files: FfmpegAudioPlayer on one connection to the sound server,
// made on the first open and made again once it has broken.
//
// Main thread only.

#include "application/PlatformServices.h"

#include <memory>

namespace kivo {

class PulseConnection;

class FfmpegAudioPlayerFactory final : public AudioPlayerFactory {
public:
    FfmpegAudioPlayerFactory() = default;
    // Plays through `connection` while it holds.
    explicit FfmpegAudioPlayerFactory(std::shared_ptr<PulseConnection> connection);
    ~FfmpegAudioPlayerFactory() override;

    // Throws PlatformError for a missing or unreadable file, one without audio, or when the sound
    // server cannot be reached.
    std::unique_ptr<AudioPlayer> open(const QString& path) override;

private:
    std::shared_ptr<PulseConnection> m_connection;
};

} // namespace kivo
