// Virtual time. One clock for the whole board, in picoseconds, so that core
// cycles at any clock frequency and bit times at any baud rate stay exact
// enough over hours of virtual time (2^64 ps is about 213 days).
#pragma once

#include <cmath>
#include <compare>
#include <cstdint>

namespace sim {

using Picos = uint64_t;

inline constexpr Picos kPsPerNs = 1000;
inline constexpr Picos kPsPerUs = 1000 * kPsPerNs;
inline constexpr Picos kPsPerMs = 1000 * kPsPerUs;
inline constexpr Picos kPsPerS = 1000 * kPsPerMs;
inline constexpr Picos kNever = UINT64_MAX;

inline constexpr double to_seconds(Picos t) {
    return static_cast<double>(t) / 1e12;
}

/// A span of virtual time as a setting holds it: read in the unit its key
/// names (seconds, milliseconds, microseconds) and converted once, there.
struct Duration {
    Picos ps = 0;

    /// `value` units of `unit` picoseconds, to the nearest picosecond.
    static Duration of(double value, Picos unit) {
        return {static_cast<Picos>(std::llround(value * static_cast<double>(unit)))};
    }
    static Duration seconds(double s) { return of(s, kPsPerS); }
    static constexpr Duration never() { return {kNever}; }
    /// In units of `unit` picoseconds.
    constexpr double in(Picos unit) const {
        return static_cast<double>(ps) / static_cast<double>(unit);
    }
    constexpr auto operator<=>(const Duration&) const = default;
};

}  // namespace sim
