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
    const auto milliseconds = static_cast<qint64>(std::llround(secondsSinceReferenceDate * 1e3));
    return QDateTime::fromMSecsSinceEpoch(milliseconds + kReferenceDateUnixSeconds * 1000, Qt::UTC);
}

} // namespace kivo
