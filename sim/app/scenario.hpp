// A scenario: what the virtual board is and how long the firmware runs on it.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace sim {

struct Scenario {
    double duration_s = 10.0;
    uint64_t seed = 1;
    struct Faults {
        bool queue_create_fails = false;
        bool no_crystal = false;  // the HSE crystal does not start
    } faults;
};

/// A scenario that cannot be used; the message names the offending key.
class ScenarioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Longest run a scenario may ask for (a week of virtual time).
inline constexpr double kMaxDurationS = 7 * 24 * 3600.0;

/// Reads a scenario from JSON text; every key is checked, unknown ones refused.
Scenario parse_scenario(const std::string& json_text);
Scenario load_scenario_file(const std::string& path);
/// Checks a run length from the command line or a file.
void check_duration(double seconds, const std::string& what);

nlohmann::json to_json(const Scenario& scenario);

}  // namespace sim
