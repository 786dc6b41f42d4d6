#pragma once

#include <compare>

namespace tolvex {

// A point in time as the workspace files store it: seconds since
// 2001-01-01T00:00:00Z as a double, fraction included. Kept as that double so
// that a date written and read back compares exactly equal.
struct Date {
    double secondsSinceReferenceDate = 0;

    // Seconds between the Unix epoch and 2001-01-01T00:00:00Z.
    static constexpr double unixOffset = 978307200.0;

    static Date now();
    // Year 1 of the common era: what the file layer reports when an item has no date.
    static Date distantPast();
    static Date fromUnixSeconds(double seconds) { return Date{seconds - unixOffset}; }
    double unixSeconds() const { return secondsSinceReferenceDate + unixOffset; }

    Date addingSeconds(double seconds) const { return Date{secondsSinceReferenceDate + seconds}; }

    friend bool operator==(const Date&, const Date&) = default;
    friend auto operator<=>(const Date&, const Date&) = default;
};

} // namespace tolvex
