#pragma once

#include <cmath>
#include <compare>
#include <cstdint>

/// A moment in time, held as 64-bit floating-point seconds since 2001-01-01T00:00:00Z (the epoch of
/// database payloads), so that payloads round-trip bit-exactly. Non-finite values are representable
/// on purpose: they arrive from stored or imported data and the validators reject them.
class Instant {
public:
    /// Seconds between 1970-01-01T00:00:00Z and 2001-01-01T00:00:00Z.
    static constexpr double kReferenceToUnix = 978307200.0;

    constexpr Instant() = default;

    static constexpr Instant fromReferenceSeconds(double seconds) { return Instant(seconds); }
    static constexpr Instant fromUnixSeconds(double seconds) { return Instant(seconds - kReferenceToUnix); }
    static constexpr Instant fromUnixMilliseconds(double milliseconds) {
        return fromUnixSeconds(milliseconds / 1000.0);
    }

    /// Seconds since 2001-01-01 (database payloads, the clipboard).
    constexpr double referenceSeconds() const { return m_seconds; }
    /// Seconds since 1970 (database columns).
    constexpr double unixSeconds() const { return m_seconds + kReferenceToUnix; }
    /// Milliseconds since 1970 (package files).
    constexpr double unixMilliseconds() const { return 1000.0 * unixSeconds(); }

    bool isFinite() const { return std::isfinite(m_seconds); }

    constexpr Instant addingSeconds(double seconds) const { return Instant(m_seconds + seconds); }
    constexpr double secondsSince(Instant earlier) const { return m_seconds - earlier.m_seconds; }

    friend constexpr bool operator==(Instant, Instant) = default;
    friend constexpr auto operator<=>(Instant a, Instant b) { return a.m_seconds <=> b.m_seconds; }

private:
    constexpr explicit Instant(double seconds) : m_seconds(seconds) {}
    double m_seconds = 0;
};
