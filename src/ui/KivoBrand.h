#pragma once

// Who makes Kivo and which version this is, as the about window and the settings page show it.

#include <QString>

namespace kivo::KivoBrand {

inline constexpr const char* kWebAddress = "https://kivo.app";
inline constexpr const char* kContactAddress = "mailto:hello@kivo.app";

// "v" + version + " (" + build + ")", with "0.1.0" for a missing version and "1" for a missing
// build number.
QString versionText(const QString& version, const QString& build);
// The running program's: the application version and the build number it was built with.
QString versionText();

} // namespace kivo::KivoBrand
