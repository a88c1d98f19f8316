#pragma once

// A point in time as Kivo stores it: seconds since 2001-01-01 00:00:00 UTC, with fraction. A
// double keeps a stored date exact through a JSON round trip; negative values are earlier dates.

#include <QDateTime>

namespace kivo {

struct Date {
    // Seconds since 2001-01-01 00:00:00 UTC.
    double secondsSinceReferenceDate = 0;

    // The 1970 epoch expressed in the reference date's seconds is -kReferenceDateUnixSeconds.
    static constexpr qint64 kReferenceDateUnixSeconds = 978307200;

    // The wall-clock time now, to the microsecond.
    static Date now();
    // Precondition: `dateTime` is valid. Milliseconds are kept.
    static Date fromDateTime(const QDateTime& dateTime);
    // In UTC, truncated to the millisecond (towards the past).
    QDateTime toDateTime() const;

    bool operator==(const Date&) const = default;
};

} // namespace kivo
