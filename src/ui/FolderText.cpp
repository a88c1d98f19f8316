#include "ui/FolderText.h"

#include <QDir>

namespace kivo {

QString folderText(const QUrl& folder) {
    QString path = QDir::cleanPath(folder.toLocalFile());
    const QString home = QDir::homePath();
    if (path == home || path.startsWith(home + QLatin1Char('/'))) {
        path = QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

} // namespace kivo
