// What the firmware under fuzzing printed, line by line.
#pragma once

#include <string>
#include <vector>

namespace fuzz {

/// Everything printed since the last take, split at "\n" (a "\r" before it
/// is dropped); a text without a final newline is the last entry.
std::vector<std::string> take_console_lines();

/// Aborts with `what` and the input's console lines: a finding.
[[noreturn]] void fail(const std::string& what);

}  // namespace fuzz
