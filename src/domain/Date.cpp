#include "domain/Date.h"

#include <chrono>
#include <cmath>

namespace kivo {

Date Date::now() {
    using namespace std::chrono;
    const auto unixMicroseconds =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    // Subtract in integers first, so the double holds the small difference exactly.
    const auto microsecondsSinceReference =
        static_cast<qint64>(unixMicroseconds) - kReferenceDateUnixSeconds * 1'000'000;
    return Date{static_cast<double>(microsecondsSinceReference) / 1e6};
}

Date Date::fromDateTime(const QDateTime& dateTime) {
    const qint64 milliseconds = dateTime.toMSecsSinceEpoch() - kReferenceDateUnixSeconds * 1000;
    return Date{static_cast<double>(milliseconds) / 1e3};
}

QDateTime Date::toDateTime() const {
    // Through whole microseconds, the finest a stored date holds: a date read back from
    // milliseconds may lie a hair below them as a double, and flooring that would lose one.
    const auto microseconds = static_cast<qint64>(std::llround(secondsSinceReferenceDate * 1e6));
    // Truncated, as clocks show time: 23:59:59.9995 still belongs to that day and second.
    const qint64 milliseconds = microseconds / 1000 - (microseconds % 1000 < 0 ? 1 : 0);
    return QDateTime::fromMSecsSinceEpoch(milliseconds + kReferenceDateUnixSeconds * 1000, Qt::UTC);
}

} // namespace kivo
