#include "ui/KivoBrand.h"

#include <QCoreApplication>

#ifndef KIVO_BUILD_NUMBER
#define KIVO_BUILD_NUMBER ""
#endif

namespace kivo::KivoBrand {

QString versionText(const QString& version, const QString& build) {
    return QStringLiteral("v%1 (%2)")
        .arg(version.isEmpty() ? QStringLiteral("0.1.0") : version,
             build.isEmpty() ? QStringLiteral("1") : build);
}

QString versionText() {
    return versionText(QCoreApplication::applicationVersion(),
                       QString::fromLatin1(KIVO_BUILD_NUMBER));
}

} // namespace kivo::KivoBrand
