#include "infrastructure/audio/FfmpegAudioPlayerFactory.h"

#include "infrastructure/audio/FfmpegAudioPlayer.h"
#include "infrastructure/pulse/PulseConnection.h"

namespace kivo {

FfmpegAudioPlayerFactory::FfmpegAudioPlayerFactory(std::shared_ptr<PulseConnection> connection)
    : m_connection(std::move(connection)) {}

FfmpegAudioPlayerFactory::~FfmpegAudioPlayerFactory() = default;

std::unique_ptr<AudioPlayer> FfmpegAudioPlayerFactory::open(const QString& path) {
    bool connected = false;
    if (m_connection) {
        PulseConnection::Lock lock(*m_connection);
        connected = m_connection->isConnected();
    }
    if (!connected) {
        m_connection = std::make_shared<PulseConnection>();
    }
    return std::make_unique<FfmpegAudioPlayer>(m_connection, path);
}

} // namespace kivo
