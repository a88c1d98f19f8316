#pragma once

// What a recording captures: the whole system output, one application's output, or only the
// microphone.

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace kivo {

enum class RecordingMode { system, application, microphone };

// In the order the interface lists them.
inline constexpr std::array kAllRecordingModes{RecordingMode::system, RecordingMode::application,
                                               RecordingMode::microphone};

// The persisted form, also the identifier in lists: "system", "application", "microphone".
QString rawValue(RecordingMode mode);
// Shown to the user: "系統聲音", "指定 App", "麥克風".
QString title(RecordingMode mode);
// Exact, case-sensitive; any other text gives no mode.
std::optional<RecordingMode> recordingModeFromRawValue(QStringView raw);

} // namespace kivo
