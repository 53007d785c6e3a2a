// Virtual time. One clock for the whole board, in picoseconds, so that core
// cycles at any clock frequency and bit times at any baud rate stay exact
// enough over hours of virtual time (2^64 ps is about 213 days).
#pragma once

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

}  // namespace sim
