#pragma once

// The sources of a recording, the key of everything per source: its track file, its gain, its
// level.

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace kivo {

enum class AudioSource { system, microphone };

inline constexpr std::array kAllAudioSources{AudioSource::system, AudioSource::microphone};

// "system", "microphone".
QString rawValue(AudioSource source);
// Any other text gives no source.
std::optional<AudioSource> audioSourceFromRawValue(QStringView raw);
// The source's track file in a session folder: raw value + ".caf".
QString trackFileName(AudioSource source);

} // namespace kivo
