#include "domain/RecordingMode.h"

namespace kivo {

QString rawValue(RecordingMode mode) {
    switch (mode) {
    case RecordingMode::system:
        return QStringLiteral("system");
    case RecordingMode::application:
        return QStringLiteral("application");
    case RecordingMode::microphone:
        return QStringLiteral("microphone");
    }
    Q_UNREACHABLE();
}

QString title(RecordingMode mode) {
    switch (mode) {
    case RecordingMode::system:
        return QStringLiteral("系統聲音");
    case RecordingMode::application:
        return QStringLiteral("指定 App");
    case RecordingMode::microphone:
        return QStringLiteral("麥克風");
    }
    Q_UNREACHABLE();
}

std::optional<RecordingMode> recordingModeFromRawValue(QStringView raw) {
    for (const auto mode : kAllRecordingModes) {
        if (raw == rawValue(mode)) {
            return mode;
        }
    }
    return std::nullopt;
}

} // namespace kivo
