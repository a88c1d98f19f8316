#pragma once

// A folder as the user knows it, the same everywhere: its path, with the home folder written "~"
// ("~/Music/Kivo").

#include <QString>
#include <QUrl>

namespace kivo {

QString folderText(const QUrl& folder);

} // namespace kivo
