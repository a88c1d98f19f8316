#include "ui/DateText.h"

#include <QDateTime>
#include <QLocale>

namespace kivo {

QString dateTimeText(Date date) {
    // Spelled out: Qt does not know the day period ("B") of the locale's own time format.
    return QLocale(QLocale::Chinese, QLocale::Taiwan)
        .toString(date.toDateTime().toLocalTime(), QStringLiteral("yyyy年M月d日 Ah:mm"));
}

} // namespace kivo
