// Reading a file a user names: a regular file of bounded size, text without
// NUL bytes (a JSON reader would stop at one and take what came before).
#pragma once

#include <cstddef>
#include <string>

namespace sim {

/// Largest scenario file (1 MiB, a chosen value: the longest example is
/// under 2 KiB).
inline constexpr std::size_t kMaxInputBytes = 1 << 20;

/// The bytes of `path`; throws ScenarioError saying why it cannot be used
/// (missing, empty name, a folder or a device, too large, a NUL byte).
std::string read_input_file(const std::string& path, std::size_t max_bytes = kMaxInputBytes);

}  // namespace sim
