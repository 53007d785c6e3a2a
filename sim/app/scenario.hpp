// A scenario: what the virtual board is and how long the firmware runs on it.
#pragma once

#include <cstdint>
#include <map>
#include <vector>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/board/board.hpp"
#include "sim/platform.hpp"

namespace sim {

inline BoardConfig board_with_plant() {
    BoardConfig board;
    board.plant = PlantConfig{};
    return board;
}

/// Everything a run is: how long, its seed, and each device's and the
/// kernel's own settings, read through their field tables.
struct Scenario {
    double duration_s = 10.0;
    uint64_t seed = 1;
    KernelSettings kernel;
    /// A scenario's board has the gimbal (unless `imu.raw` holds the registers).
    BoardConfig board = board_with_plant();
    /// Gains and limit instead of the firmware's constants (absent: the constants).
    struct Gains {
        double kp = 0, ki = 0, kd = 0;
    };
    struct Control {
        std::optional<Gains> roll, pitch;
        std::optional<double> output_max;
    } control;
};

/// A scenario that cannot be used; the message names the offending key.
class ScenarioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Longest run a scenario may ask for (a week of virtual time).
inline constexpr double kMaxDurationS = kMaxSettingS;

/// Reads a scenario from JSON text; every key is checked, unknown ones refused.
Scenario parse_scenario(const std::string& json_text);
Scenario load_scenario_file(const std::string& path);
/// Checks a run length from the command line or a file.
void check_duration(double seconds, const std::string& what);

nlohmann::json to_json(const Scenario& scenario);

/// One row of the README's key table: every key a scenario may hold, from
/// the field tables, with the objects that hold them.
struct ScenarioKey {
    std::string path;  // "motors.ID.reply_delay_us"
    std::string default_text, range, meaning;
    bool field = true;  // false: an object or list that holds keys
};
std::vector<ScenarioKey> scenario_keys();
/// The README's key table (markdown) and the fuzz dictionary, made from them.
std::string scenario_key_table();
std::string scenario_dictionary();

}  // namespace sim
