#include "infrastructure/storage/KivoFolders.h"

#include <QDir>
#include <QStandardPaths>

namespace kivo::KivoFolders {

QString applicationSupport() {
    // GenericDataLocation is $XDG_DATA_HOME, or ~/.local/share when it is unset or not absolute.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Kivo");
}

QString captures() {
    return applicationSupport() + QStringLiteral("/Captures");
}

QString defaultOutput() {
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty()) {
        music = QDir::homePath() + QStringLiteral("/Music");
    }
    return music + QStringLiteral("/Kivo");
}

} // namespace kivo::KivoFolders
