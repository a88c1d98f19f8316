#pragma once

// The format of exported files: AAC in an MPEG-4 audio file, or WAV.

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace kivo {

enum class AudioOutputFormat { aac, wav };

inline constexpr std::array kAllAudioOutputFormats{AudioOutputFormat::aac, AudioOutputFormat::wav};

// Persisted and shown: "AAC", "WAV".
QString rawValue(AudioOutputFormat format);
// "m4a", "wav".
QString fileExtension(AudioOutputFormat format);
// Exact, case-sensitive: "aac" is no format.
std::optional<AudioOutputFormat> audioOutputFormatFromRawValue(QStringView raw);

} // namespace kivo
