// Cases of a parameterised test that carry their own name: gtest prints the
// name for the parameter, and `by_name` makes it the test's suffix.
#pragma once

#include <gtest/gtest.h>

#include <concepts>
#include <ostream>
#include <string>

namespace named_case {

/// Derive a case from it and give the name first: {"Name", ...}.
struct Case {
    const char* name;
};

template <std::derived_from<Case> T>
void PrintTo(const T& c, std::ostream* os) {
    *os << c.name;
}

inline constexpr auto by_name = [](const auto& info) { return std::string(info.param.name); };

}  // namespace named_case
