#include "infrastructure/storage/KivoFolders.h"

#include "domain/KivoError.h"

#include <QDir>
#include <QStandardPaths>

namespace kivo::KivoFolders {

QString applicationSupport() {
    // The XDG rules: a relative XDG_DATA_HOME is ignored. Qt would take it as it is (a folder
    // relative to wherever Kivo was started) and, without HOME, would give "/".
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(dataHome)) {
        return QDir::cleanPath(dataHome) + QStringLiteral("/Kivo");
    }
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home)) {
        return QDir::cleanPath(home) + QStringLiteral("/.local/share/Kivo");
    }
    throw KivoError(QStringLiteral("找不到保存錄音資料的資料夾：環境變數 HOME 與 XDG_DATA_HOME "
                                   "都沒有設定成完整路徑。請從一般的桌面或登入環境開啟 Kivo。"));
}

QString defaultOutput() {
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty()) {
        music = QDir::homePath() + QStringLiteral("/Music");
    }
    return music + QStringLiteral("/Kivo");
}

} // namespace kivo::KivoFolders
