// A settings struct's field table: each setting once, with the key a
// scenario names it by, its member, unit, range and one line of meaning. The
// default is the struct's own member initialiser. The scenario reader, its
// echo in summary.json, the README's key table and the fuzz dictionary are
// all made from these tables (sim/app/scenario.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "sim/core/time.hpp"

namespace sim {

/// Longest span of virtual time a setting may name (a week).
inline constexpr double kMaxSettingS = 7 * 24 * 3600.0;

template <class S>
struct Field {
    using Member = std::variant<bool S::*, double S::*, std::optional<double> S::*, int16_t S::*,
                                uint32_t S::*, uint64_t S::*, Duration S::*>;
    /// Key within the struct's object; "raw.roll" is `roll` in the object `raw`.
    const char* key;
    Member member;
    /// Unit of the value in the scenario ("s", "ms", "us", "Hz", "deg", ...;
    /// "" for none). A Duration's unit is one of s, ms, us.
    const char* unit;
    double min, max;
    const char* meaning;
    /// A bool written as one of two words (false, true) instead of true/false.
    const char* words[2] = {nullptr, nullptr};
    /// A Duration given as a whole number of its unit.
    bool whole = false;
    /// Echoed only when it differs from the default.
    bool when_set = false;
    /// A number checked by this instead of the range (the message names `what`).
    void (*check)(double value, const std::string& what) = nullptr;
    /// The default as the README says it, when the member's own is not it.
    const char* default_text = nullptr;
};

template <class S>
using Fields = std::span<const Field<S>>;

}  // namespace sim
