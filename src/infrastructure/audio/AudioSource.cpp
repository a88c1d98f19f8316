#include "infrastructure/audio/AudioSource.h"

namespace kivo {

QString rawValue(AudioSource source) {
    switch (source) {
    case AudioSource::system:
        return QStringLiteral("system");
    case AudioSource::microphone:
        return QStringLiteral("microphone");
    }
    Q_UNREACHABLE();
}

std::optional<AudioSource> audioSourceFromRawValue(QStringView raw) {
    for (const auto source : kAllAudioSources) {
        if (raw == rawValue(source)) {
            return source;
        }
    }
    return std::nullopt;
}

QString trackFileName(AudioSource source) {
    return rawValue(source) + QStringLiteral(".caf");
}

} // namespace kivo
