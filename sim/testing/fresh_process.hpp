// Runs a piece of a test in a child process, so that every simulated boot
// starts from reset: firmware file-scope state exists once per process.
#pragma once

#include <functional>
#include <string>

namespace sim::testing {

struct ChildResult {
    bool ok = false;      // the child ran to the end and exited 0
    std::string payload;  // what the body returned
    std::string failure;  // how the child ended, when not ok
};

/// Forks; the child runs `body` and sends back the string it returns. A child
/// still running after `wall_limit_s` seconds is killed (a hang is a failure).
ChildResult in_fresh_process(const std::function<std::string()>& body, unsigned wall_limit_s = 300);

}  // namespace sim::testing
