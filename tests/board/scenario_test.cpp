// The scenario reader in this process: what it refuses and how it names the
// key, and that the README's key table and the fuzz dictionary are the
// field tables' (gimbal_sim_test keeps a few refusals end to end).

// GCC 12 with the sanitizers warns of an uninitialised member inside
// std::regex's own automaton, not in this file.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "gimbal_sim_run.hpp"
#include "sim/app/scenario.hpp"

namespace {

using nlohmann::json;
using sim_run::read_file;

std::string refusal(const std::string& text) {
    try {
        sim::parse_scenario(text);
    } catch (const sim::ScenarioError& e) {
        return e.what();
    }
    return "(accepted)";
}

struct Refused {
    const char* scenario;
    const char* named;  // what the message must hold
};

// clang-format off
const Refused kRefused[] = {
    {R"({"duration_s": 1e999})", "1e999"},
    {"[1]", "object"},
    {R"({"faults": {"crystal_missing": true}})", "faults.crystal_missing"},
    {R"({"faults": {"no_crystal": "yes"}})", "'faults.no_crystal' must be true or false, not string"},
    {R"({"faults": true})", "'faults' must be an object"},
    {R"({"duration_s": "3"})", "'duration_s' must be a number, not string"},
    {R"({"duration_s": 0})", "'duration_s' must be a positive number of seconds"},
    {R"({"duration_s": -1})", "'duration_s' must be a positive"},
    {R"({"duration_s": 1e7})", "'duration_s' must be at most 604800 seconds"},
    {R"({"seed": -1})", "'seed' must be an integer from 0 to 2^64-1, not -1"},
    {R"({"seed": 1.5})", "'seed' must be an integer"},
    {R"({"faults": {"queue_create_fails": 1}})", "'faults.queue_create_fails' must be true or false"},
    {R"({"imu": 3})", "'imu' must be an object, not number"},
    {R"({"imu": {"presnt": true}})", "unknown key 'imu.presnt'"},
    {R"({"imu": {"present": 1}})", "'imu.present'"},
    {R"({"imu": {"raw": [1, 2]}})", "'imu.raw' must be an object, not array"},
    {R"({"imu": {"raw": {"heading": 1}}})", "unknown key 'imu.raw.heading'"},
    {R"({"imu": {"raw": {"roll": 32768}}})", "'imu.raw.roll' must be an integer from -32768 to 32767, not 32768"},
    {R"({"imu": {"raw": {"pitch": -32769}}})", "'imu.raw.pitch'"},
    {R"({"imu": {"raw": {"temp": 23.5}}})", "'imu.raw.temp'"},
    {R"({"imu": {"raw": {"yaw": "1"}}})", "'imu.raw.yaw' must be an integer from -32768 to 32767, not string"},
    {R"({"imu": {"hold_sda_low_ms": -1}})", "'imu.hold_sda_low_ms' must be a number from 0 to 6.048e+08, not -1"},
    {R"({"imu": {"hold_sda_low_ms": 1e12}})", "'imu.hold_sda_low_ms'"},
    {R"({"imu": {"stretch_scl_us": "5"}})", "'imu.stretch_scl_us' must be a number from 0 to 6.048e+11, not string"},
    {R"({"imu": {"hold_scl_low_ms": "1"}})", "'imu.hold_scl_low_ms'"},
    {R"({"imu": {"from_s": 5, "until_s": 2}})", "'imu.until_s' must be later than from_s"},
    {R"({"imu": {"from_s": -1}})", "'imu.from_s' must be a number from 0 to 604800, not -1"},
    {R"({"motors": []})", "'motors' must be an object, not array"},
    {R"({"motors": {"0x800": {}}})", "'motors.0x800' must be an 11-bit identifier in hexadecimal, 0x000 to 0x7FF"},
    {R"({"motors": {"321": {}}})", "'motors.321'"},
    {R"({"motors": {"0x141": true}})", "'motors.0x141' must be an object, not boolean"},
    {R"({"motors": {"0x141": {"speed": 1}}})", "unknown key 'motors.0x141.speed'"},
    {R"({"motors": {"0x141": {"present": 1}}})", "'motors.0x141.present'"},
    {R"({"motors": {"0x142": {"answers": "no"}}})", "'motors.0x142.answers' must be true or false, not string"},
    {R"({"motors": {"0x141": {"reply_delay_us": -5}}})", "'motors.0x141.reply_delay_us' must be an integer from 0 to 10000000, not -5"},
    {R"({"motors": {"0x141": {"reply_delay_us": 2.5}}})", "'motors.0x141.reply_delay_us'"},
    {R"({"motors": {"0x141": {"close_reply": "noise"}}})", R"('motors.0x141.close_reply' must be "echo" or "garbage", not "noise")"},
    {R"({"motors": {"0x141": {"from_s": 1, "every_s": 10}}})", "'motors.0x141.every_s' needs until_s and must be longer than the window"},
    {R"({"motors": {"0x141": {"from_s": 1, "until_s": 4, "every_s": 3}}})", "'motors.0x141.every_s'"},
    {R"({"ticks": 5})", "'ticks' must be an object, not number"},
    {R"({"ticks": {"begin": 5}})", "unknown key 'ticks.begin'"},
    {R"({"ticks": {"start": 4294967296}})", "'ticks.start' must be an integer from 0 to 4294967295, not 4294967296"},
    {R"({"ticks": {"start": -1}})", "'ticks.start'"},
    {R"({"plant": 1})", "'plant' must be an object"},
    {R"({"plant": {"imu_hz": 10}})", "unknown key 'plant.imu_hz'"},
    {R"({"plant": {"imu_rate_hz": 0}})", "'plant.imu_rate_hz' must be a number from 0.1 to 1000, not 0"},
    {R"({"plant": {"angle_noise_deg": -1}})", "'plant.angle_noise_deg'"},
    {R"({"plant": {"temperature_c": "25"}})", "'plant.temperature_c' must be a number from -40 to 85, not string"},
    {R"({"disturbance": {"yaw": {}}})", "unknown key 'disturbance.yaw'"},
    {R"({"disturbance": {"roll": []}})", "'disturbance.roll' must be an object"},
    {R"({"disturbance": {"roll": {"tilt_deg": 120}}})", "'disturbance.roll.tilt_deg' must be a number from -90 to 90, not 120"},
    {R"({"disturbance": {"pitch": {"sway": {"amplitude": 3}}}})", "unknown key 'disturbance.pitch.sway.amplitude'"},
    {R"({"disturbance": {"roll": {"sway": {"amplitude_deg": 3, "frequency_hz": -1}}}})", "'disturbance.roll.sway.frequency_hz'"},
    {R"({"disturbance": {"roll": {"steps": {"at_s": 1}}}})", "'disturbance.roll.steps' must be a list, not object"},
    {R"({"disturbance": {"roll": {"steps": [{"at_s": 1}]}}})", "'disturbance.roll.steps[0].deg' is missing"},
    {R"({"disturbance": {"roll": {"steps": [{"at_s": -1, "deg": 1}]}}})", "'disturbance.roll.steps[0].at_s' must be a number from 0 to 604800"},
    {R"({"disturbance": {"roll": {"random_walk_deg_per_sqrt_s": null}}})", "'disturbance.roll.random_walk_deg_per_sqrt_s' must be a number from 0 to 100, not null"},
    {R"({"control": {"yaw": {"kp": 1, "ki": 0, "kd": 0}}})", "unknown key 'control.yaw'"},
    {R"({"control": {"roll": {"kp": 1, "ki": 0}}})", "'control.roll.kd' is missing (give all three gains)"},
    {R"({"control": {"pitch": {"kp": "1", "ki": 0, "kd": 0}}})", "'control.pitch.kp' must be a number from -1e+06 to 1e+06, not string"},
    // Beyond 2^31 the firmware's float-to-int32 speed conversion would overflow.
    {R"({"control": {"output_max": 3e9}})", "'control.output_max' must be a number from 0 to 2.14748e+09, not 3000000000.0"},
    {R"({"control": {"output_max": -1}})", "'control.output_max'"},
    {R"({"i2c": 4700})", "'i2c'"},
    {R"({"board": {"supply_v": 1.7}})", "'board.supply_v'"},
    {R"({"board": {"supply_v": "3.3"}})", "'board.supply_v'"},
    {R"({"i2c": {"pull_up": 4700}})", "i2c.pull_up"},
    {R"({"i2c": {"pull_up_ohms": -1}})", "'i2c.pull_up_ohms'"},
    {R"({"i2c": {"bus_capacitance_pf": "50"}})", "'i2c.bus_capacitance_pf'"},
    // A key given twice, at any depth; one motor named twice.
    {R"({"duration_s": 3, "duration_s": 4})", "duplicate key 'duration_s'"},
    {R"({"imu": {"raw": {"roll": 1, "roll": 2}}})", "duplicate key 'imu.raw.roll'"},
    {R"({"disturbance": {"roll": {"steps": [{"at_s": 1, "deg": 1}, {"deg": 1, "deg": 2}]}}})", "duplicate key 'disturbance.roll.steps[1].deg'"},
    {R"({"motors": {"0x141": {}, "0X141": {}}})", "'motors.0x141' names the same motor as 'motors.0X141'"},
    // A window repeats at most every millisecond; it lasts at least a picosecond.
    {R"({"imu": {"from_s": 0, "until_s": 1e-9, "every_s": 1e-4}})", "'imu.every_s' must be a number from 0.001 to 604800, not 0.0001"},
    {R"({"imu": {"from_s": 1e-13, "until_s": 2e-13}})", "'imu.until_s' must be later than from_s"},
};
// clang-format on

TEST(ScenarioReader, RefusesBadInputNamingTheKey) {
    for (const Refused& c : kRefused) {
        EXPECT_NE(refusal(c.scenario).find(c.named), std::string::npos)
            << c.scenario << "\n  gave: " << refusal(c.scenario);
    }
}

// Every key of the tables is read where the table says: a value of the wrong
// type is refused naming it, and a default value is taken.
// A table's path ("motors.ID.present") as a pointer into a scenario.
json::json_pointer pointer(const std::string& path) {
    std::string p = "/" + std::regex_replace(path, std::regex("\\."), "/");
    p = std::regex_replace(p, std::regex("/ID"), "/0x141");
    return json::json_pointer(std::regex_replace(p, std::regex("/AXIS"), "/roll"));
}

TEST(ScenarioReader, ReadsEveryKeyOfTheTables) {
    for (const sim::ScenarioKey& k : sim::scenario_keys()) {
        if (!k.field) {
            continue;
        }
        const std::string path =
            std::regex_replace(pointer(k.path).to_string().substr(1), std::regex("/"), ".");
        json doc;
        if (path.rfind("control.roll.", 0) == 0) {
            doc["control"]["roll"] = {{"kp", 1}, {"ki", 1}, {"kd", 1}};
        }
        doc[pointer(k.path)] = "x";
        EXPECT_NE(refusal(doc.dump()).find("'" + path + "'"), std::string::npos)
            << doc.dump() << " gave " << refusal(doc.dump());
    }
}

// The README's table between its markers and the fuzz dictionary are what
// the tables make; GIMBAL_WRITE_KEYS=1 writes them anew.
TEST(ScenarioKeys, ReadmeTableAndFuzzDictionaryAreTheTables) {
    const std::string readme_path = GIMBAL_SOURCE_DIR "/README.md";
    const std::string dict_path = GIMBAL_SOURCE_DIR "/fuzz/scenario.dict";
    const std::string begin = "<!-- scenario keys: made from the field tables -->\n";
    const std::string end = "<!-- end of scenario keys -->";
    std::string readme = read_file(readme_path);
    const auto from = readme.find(begin), to = readme.find(end);
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos);
    const std::string table = readme.substr(from + begin.size(), to - from - begin.size());
    if (std::getenv("GIMBAL_WRITE_KEYS") != nullptr) {
        readme.replace(from + begin.size(), to - from - begin.size(), sim::scenario_key_table());
        sim_run::write_file(readme_path, readme);
        sim_run::write_file(dict_path, sim::scenario_dictionary());
        return;
    }
    EXPECT_EQ(table, sim::scenario_key_table()) << "run with GIMBAL_WRITE_KEYS=1 to rewrite";
    EXPECT_EQ(read_file(dict_path), sim::scenario_dictionary());
    // The fuzzer's seed that holds every key.
    const json seed =
        json::parse(read_file(GIMBAL_SOURCE_DIR "/fuzz/corpus/scenario/every-key.json"));
    for (const sim::ScenarioKey& k : sim::scenario_keys()) {
        EXPECT_TRUE(seed.contains(pointer(k.path))) << k.path;
    }
}

}  // namespace
