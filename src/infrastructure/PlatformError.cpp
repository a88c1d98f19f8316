#include "infrastructure/PlatformError.h"

#include <cerrno>
#include <cstring>

namespace kivo {

PlatformError PlatformError::fromErrno(const QString& what, int errnum) {
    return PlatformError(what + QStringLiteral("：") + describeErrno(errnum));
}

QString PlatformError::describeErrno(int errnum) {
    switch (errnum) {
    case ENOSPC:
        return QStringLiteral("磁碟已沒有剩餘空間");
    case EDQUOT:
        return QStringLiteral("已用完這個帳號的磁碟配額");
    case EFBIG:
        return QStringLiteral("檔案已超過系統允許的大小");
    case EROFS:
        return QStringLiteral("這個位置是唯讀的，無法寫入");
    case EACCES:
    case EPERM:
        return QStringLiteral("沒有權限");
    case ENOENT:
        return QStringLiteral("檔案或資料夾不存在");
    case ENOTDIR:
        return QStringLiteral("路徑中有一項不是資料夾");
    case EISDIR:
        return QStringLiteral("這是資料夾，不是檔案");
    case EEXIST:
        return QStringLiteral("已有同名的檔案");
    case ENOTEMPTY:
        return QStringLiteral("資料夾不是空的");
    case ENAMETOOLONG:
        return QStringLiteral("名稱或路徑太長");
    case EIO:
        return QStringLiteral("磁碟讀寫錯誤");
    case ENOLCK:
        return QStringLiteral("這個檔案系統無法鎖定檔案");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("同時開啟的檔案太多");
    case ENOMEM:
        return QStringLiteral("記憶體不足");
    case EBUSY:
        return QStringLiteral("檔案或裝置正在使用中");
    case ENODEV:
    case ENXIO:
        return QStringLiteral("裝置不存在或已移除");
    case ETIMEDOUT:
        return QStringLiteral("等候回應逾時");
    default:
        break;
    }
    // A cause without words of Kivo's own: the system's description, as it gives it.
    return QString::fromLocal8Bit(std::strerror(errnum));
}

} // namespace kivo
