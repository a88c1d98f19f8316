#include "infrastructure/system/FreedesktopTrash.h"

#include "infrastructure/PlatformError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>

namespace kivo {

void FreedesktopTrash::moveToTrash(const QString& path) {
    QString reason;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        reason = QStringLiteral("檔案不存在");
    } else {
        // Qt makes the trash folder but not the data folder holding it; without that folder it
        // would put the file into a trash under the working folder.
        QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
        QFile file(path);
        errno = 0;
        if (file.moveToTrash()) {
            return;
        }
        // The system call's cause, in words of Kivo's own where it has them.
        const int cause = errno;
        reason = cause != 0                     ? PlatformError::describeErrno(cause)
                 : file.errorString().isEmpty() ? QStringLiteral("原因不明")
                                                : file.errorString();
    }
    throw PlatformError(QStringLiteral("無法將「%1」移至垃圾桶：%2").arg(path, reason));
}

} // namespace kivo
