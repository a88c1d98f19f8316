#include "infrastructure/PlatformError.h"

#include <cstring>

namespace kivo {

PlatformError PlatformError::fromErrno(const QString& what, int errnum) {
    return PlatformError(what + QStringLiteral("：") +
                         QString::fromLocal8Bit(std::strerror(errnum)));
}

} // namespace kivo
