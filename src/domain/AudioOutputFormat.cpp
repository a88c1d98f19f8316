#include "domain/AudioOutputFormat.h"

namespace kivo {

QString rawValue(AudioOutputFormat format) {
    switch (format) {
    case AudioOutputFormat::aac:
        return QStringLiteral("AAC");
    case AudioOutputFormat::wav:
        return QStringLiteral("WAV");
    }
    Q_UNREACHABLE();
}

QString fileExtension(AudioOutputFormat format) {
    switch (format) {
    case AudioOutputFormat::aac:
        return QStringLiteral("m4a");
    case AudioOutputFormat::wav:
        return QStringLiteral("wav");
    }
    Q_UNREACHABLE();
}

std::optional<AudioOutputFormat> audioOutputFormatFromRawValue(QStringView raw) {
    for (const auto format : kAllAudioOutputFormats) {
        if (raw == rawValue(format)) {
            return format;
        }
    }
    return std::nullopt;
}

} // namespace kivo
