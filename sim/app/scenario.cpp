#include "sim/app/scenario.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <set>
#include <tuple>
#include <sstream>
#include <utility>

namespace sim {

namespace {

using nlohmann::json;

void refuse_unknown(const json& object, const std::set<std::string>& known,
                    const std::string& prefix) {
    for (const auto& [key, value] : object.items()) {
        if (known.count(key) == 0) {
            throw ScenarioError("unknown key '" + prefix + key + "'");
        }
    }
}

const char* type_name(const json& value) {
    return value.type_name();
}

bool read_bool(const json& object, const std::string& key, const std::string& path) {
    const json& v = object[key];
    if (!v.is_boolean()) {
        throw ScenarioError("'" + path + "' must be true or false, not " + type_name(v));
    }
    return v.get<bool>();
}

int16_t read_register(const json& object, const std::string& key, const std::string& path) {
    const json& v = object[key];
    const bool integral = v.is_number_integer() ||
                          (v.is_number_float() && std::trunc(v.get<double>()) == v.get<double>());
    if (!integral || v.get<double>() < -32768.0 || v.get<double>() > 32767.0) {
        throw ScenarioError("'" + path + "' must be an integer from -32768 to 32767, not " +
                            (v.is_number() ? v.dump() : type_name(v)));
    }
    return static_cast<int16_t>(v.get<double>());
}

double read_span(const json& object, const std::string& key, const std::string& path, double max) {
    const json& v = object[key];
    if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < 0.0 ||
        v.get<double>() > max) {
        std::ostringstream msg;
        msg << "'" << path << "' must be a number from 0 to " << max << ", not "
            << (v.is_number() ? v.dump() : type_name(v));
        throw ScenarioError(msg.str());
    }
    return v.get<double>();
}

double read_number(const json& object, const std::string& key, const std::string& path, double min,
                   double max) {
    const json& v = object[key];
    if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < min ||
        v.get<double>() > max) {
        std::ostringstream msg;
        msg << "'" << path << "' must be a number from " << min << " to " << max << ", not "
            << (v.is_number() ? v.dump() : type_name(v));
        throw ScenarioError(msg.str());
    }
    return v.get<double>();
}

const json& object_at(const json& parent, const std::string& key, const std::string& path) {
    const json& v = parent[key];
    if (!v.is_object()) {
        throw ScenarioError("'" + path + "' must be an object, not " + type_name(v));
    }
    return v;
}

// Reads the optional numeric keys of `object` into their fields.
void read_numbers(const json& object, const std::string& prefix,
                  std::initializer_list<std::tuple<const char*, double*, double, double>> keys) {
    for (const auto& [key, field, min, max] : keys) {
        if (object.contains(key)) {
            *field = read_number(object, key, prefix + key, min, max);
        }
    }
}

Scenario::Plant parse_plant(const json& doc) {
    const json& plant = object_at(doc, "plant", "plant");
    refuse_unknown(
        plant,
        {"imu_rate_hz", "angle_noise_deg", "rate_noise_dps", "accel_noise_g", "temperature_c"},
        "plant.");
    Scenario::Plant p;
    read_numbers(plant, "plant.",
                 {{"imu_rate_hz", &p.imu_rate_hz, 0.1, 1000.0},
                  {"angle_noise_deg", &p.angle_noise_deg, 0.0, 10.0},
                  {"rate_noise_dps", &p.rate_noise_dps, 0.0, 100.0},
                  {"accel_noise_g", &p.accel_noise_g, 0.0, 1.0},
                  {"temperature_c", &p.temperature_c, -40.0, 85.0}});
    return p;
}

AxisMotion parse_axis_motion(const json& parent, const std::string& axis) {
    const std::string path = "disturbance." + axis;
    const json& m = object_at(parent, axis, path);
    refuse_unknown(m, {"tilt_deg", "steps", "sway", "random_walk_deg_per_sqrt_s"}, path + ".");
    AxisMotion a;
    read_numbers(m, path + ".",
                 {{"tilt_deg", &a.tilt_deg, -90.0, 90.0},
                  {"random_walk_deg_per_sqrt_s", &a.random_walk_deg_per_sqrt_s, 0.0, 100.0}});
    if (m.contains("sway")) {
        const json& sway = object_at(m, "sway", path + ".sway");
        refuse_unknown(sway, {"amplitude_deg", "frequency_hz", "phase_deg"}, path + ".sway.");
        read_numbers(sway, path + ".sway.",
                     {{"amplitude_deg", &a.sway_amplitude_deg, 0.0, 90.0},
                      {"frequency_hz", &a.sway_frequency_hz, 0.0, 100.0},
                      {"phase_deg", &a.sway_phase_deg, -360.0, 360.0}});
    }
    if (m.contains("steps")) {
        const json& steps = m["steps"];
        if (!steps.is_array()) {
            throw ScenarioError("'" + path + ".steps' must be a list, not " + type_name(steps));
        }
        for (std::size_t i = 0; i < steps.size(); i++) {
            const std::string item = path + ".steps[" + std::to_string(i) + "]";
            if (!steps[i].is_object()) {
                throw ScenarioError("'" + item + "' must be an object, not " + type_name(steps[i]));
            }
            refuse_unknown(steps[i], {"at_s", "deg"}, item + ".");
            for (const char* key : {"at_s", "deg"}) {
                if (!steps[i].contains(key)) {
                    throw ScenarioError("'" + item + "." + key + "' is missing");
                }
            }
            a.steps.emplace_back(read_number(steps[i], "at_s", item + ".at_s", 0.0, kMaxDurationS),
                                 read_number(steps[i], "deg", item + ".deg", -90.0, 90.0));
        }
    }
    return a;
}

Scenario::Disturbance parse_disturbance(const json& doc) {
    const json& d = object_at(doc, "disturbance", "disturbance");
    refuse_unknown(d, {"roll", "pitch"}, "disturbance.");
    Scenario::Disturbance s;
    if (d.contains("roll")) {
        s.roll = parse_axis_motion(d, "roll");
    }
    if (d.contains("pitch")) {
        s.pitch = parse_axis_motion(d, "pitch");
    }
    return s;
}

// Output limit in 0.01 degree/s: the firmware truncates the output to a
// 32-bit integer, so a limit must keep every output inside that range.
constexpr double kMaxOutputLimit = 2147483520.0;  // largest float below 2^31
constexpr double kMaxGain = 1e6;

Scenario::Control parse_control(const json& doc) {
    const json& c = object_at(doc, "control", "control");
    refuse_unknown(c, {"roll", "pitch", "output_max"}, "control.");
    Scenario::Control s;
    for (auto [axis, gains] : {std::pair{"roll", &s.roll}, std::pair{"pitch", &s.pitch}}) {
        if (!c.contains(axis)) {
            continue;
        }
        const std::string path = std::string("control.") + axis;
        const json& g = object_at(c, axis, path);
        refuse_unknown(g, {"kp", "ki", "kd"}, path + ".");
        Scenario::Gains v;
        for (auto [key, field] :
             {std::pair{"kp", &v.kp}, std::pair{"ki", &v.ki}, std::pair{"kd", &v.kd}}) {
            if (!g.contains(key)) {
                throw ScenarioError("'" + path + "." + key + "' is missing (give all three gains)");
            }
            *field = read_number(g, key, path + "." + key, -kMaxGain, kMaxGain);
        }
        *gains = v;
    }
    if (c.contains("output_max")) {
        s.output_max = read_number(c, "output_max", "control.output_max", 0.0, kMaxOutputLimit);
    }
    return s;
}

// "from_s", "until_s", "every_s" of an object whose faults come and go.
std::optional<WindowSettings> read_window(const json& object, const std::string& prefix) {
    if (!object.contains("from_s") && !object.contains("until_s") && !object.contains("every_s")) {
        return std::nullopt;
    }
    WindowSettings w;
    if (object.contains("from_s")) {
        w.from_s = read_span(object, "from_s", prefix + "from_s", kMaxDurationS);
    }
    if (object.contains("until_s")) {
        w.until_s = read_span(object, "until_s", prefix + "until_s", kMaxDurationS);
        if (*w.until_s <= w.from_s) {
            throw ScenarioError("'" + prefix + "until_s' must be later than from_s");
        }
    }
    if (object.contains("every_s")) {
        w.every_s = read_span(object, "every_s", prefix + "every_s", kMaxDurationS);
        if (!w.until_s || *w.every_s <= *w.until_s - w.from_s) {
            throw ScenarioError("'" + prefix +
                                "every_s' needs until_s and must be longer than the window");
        }
    }
    return w;
}

json window_json(const WindowSettings& w) {
    json j = {{"from_s", w.from_s}};
    if (w.until_s) {
        j["until_s"] = *w.until_s;
    }
    if (w.every_s) {
        j["every_s"] = *w.every_s;
    }
    return j;
}

Scenario::Imu parse_imu(const json& imu) {
    if (!imu.is_object()) {
        throw ScenarioError(std::string("'imu' must be an object, not ") + type_name(imu));
    }
    refuse_unknown(imu,
                   {"present", "raw", "hold_sda_low_ms", "stretch_scl_us", "hold_scl_low_ms",
                    "from_s", "until_s", "every_s"},
                   "imu.");
    Scenario::Imu s;
    if (imu.contains("present")) {
        s.present = read_bool(imu, "present", "imu.present");
    }
    if (imu.contains("raw")) {
        const json& raw = imu["raw"];
        if (!raw.is_object()) {
            throw ScenarioError(std::string("'imu.raw' must be an object, not ") + type_name(raw));
        }
        refuse_unknown(raw, {"roll", "pitch", "yaw", "temp"}, "imu.raw.");
        s.raw_given = true;
        for (auto [key, field] : {std::pair{"roll", &s.roll}, std::pair{"pitch", &s.pitch},
                                  std::pair{"yaw", &s.yaw}, std::pair{"temp", &s.temp}}) {
            if (raw.contains(key)) {
                *field = read_register(raw, key, std::string("imu.raw.") + key);
            }
        }
    }
    if (imu.contains("hold_sda_low_ms")) {
        s.hold_sda_low_ms =
            read_span(imu, "hold_sda_low_ms", "imu.hold_sda_low_ms", kMaxDurationS * 1e3);
    }
    if (imu.contains("stretch_scl_us")) {
        s.stretch_scl_us =
            read_span(imu, "stretch_scl_us", "imu.stretch_scl_us", kMaxDurationS * 1e6);
    }
    if (imu.contains("hold_scl_low_ms")) {
        s.hold_scl_low_ms =
            read_span(imu, "hold_scl_low_ms", "imu.hold_scl_low_ms", kMaxDurationS * 1e3);
    }
    s.window = read_window(imu, "imu.");
    return s;
}

constexpr uint32_t kMaxReplyDelayUs = 10000000;  // 10 s

// "0x141": an 11-bit identifier written in hexadecimal.
uint32_t motor_id(const std::string& key) {
    const bool hex = key.size() > 2 && key.size() <= 5 && key[0] == '0' &&
                     (key[1] == 'x' || key[1] == 'X') &&
                     key.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
    const unsigned long id = hex ? std::stoul(key.substr(2), nullptr, 16) : 0x800;
    if (id > 0x7FF) {
        throw ScenarioError("'motors." + key +
                            "' must be an 11-bit identifier in hexadecimal, 0x000 to 0x7FF");
    }
    return static_cast<uint32_t>(id);
}

void parse_motors(const json& motors, Scenario& s) {
    if (!motors.is_object()) {
        throw ScenarioError(std::string("'motors' must be an object, not ") + type_name(motors));
    }
    for (const auto& [key, entry] : motors.items()) {
        const uint32_t id = motor_id(key);
        const std::string path = "motors." + key;
        if (!entry.is_object()) {
            throw ScenarioError("'" + path + "' must be an object, not " + type_name(entry));
        }
        refuse_unknown(entry,
                       {"present", "answers", "reply_delay_us", "close_reply", "bit_rate_hz",
                        "from_s", "until_s", "every_s"},
                       path + ".");
        MotorSettings m = s.motors.count(id) != 0 ? s.motors[id] : MotorSettings{};
        if (entry.contains("present")) {
            m.present = read_bool(entry, "present", path + ".present");
        }
        if (entry.contains("answers")) {
            m.answers = read_bool(entry, "answers", path + ".answers");
        }
        if (entry.contains("reply_delay_us")) {
            const json& v = entry["reply_delay_us"];
            if (!v.is_number_unsigned() || v.get<uint64_t>() > kMaxReplyDelayUs) {
                throw ScenarioError("'" + path + ".reply_delay_us' must be an integer from 0 to " +
                                    std::to_string(kMaxReplyDelayUs) + ", not " +
                                    (v.is_number() ? v.dump() : type_name(v)));
            }
            m.reply_delay_us = v.get<uint32_t>();
        }
        if (entry.contains("bit_rate_hz")) {
            // Classic CAN's range: ISO 11898-2 high-speed buses reach 1 Mbit/s.
            const json& v = entry["bit_rate_hz"];
            if (!v.is_number_unsigned() || v.get<uint64_t>() < 10000 ||
                v.get<uint64_t>() > 1000000) {
                throw ScenarioError("'" + path +
                                    ".bit_rate_hz' must be an integer from 10000 to 1000000, not " +
                                    (v.is_number() ? v.dump() : type_name(v)));
            }
            m.bit_rate_hz = v.get<uint32_t>();
        }
        if (entry.contains("close_reply")) {
            const json& v = entry["close_reply"];
            if (!v.is_string() || (v != "echo" && v != "garbage")) {
                throw ScenarioError(
                    "'" + path + ".close_reply' must be \"echo\" or \"garbage\", not " + v.dump());
            }
            m.close_garbage = v == "garbage";
        }
        if (auto w = read_window(entry, path + ".")) {
            m.window = w;
        }
        s.motors[id] = m;
    }
}

}  // namespace

void check_duration(double seconds, const std::string& what) {
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        throw ScenarioError(what + " must be a positive number of seconds");
    }
    if (seconds > kMaxDurationS) {
        std::ostringstream msg;
        msg << what << " must be at most " << kMaxDurationS << " seconds";
        throw ScenarioError(msg.str());
    }
}

Scenario parse_scenario(const std::string& json_text) {
    json doc;
    try {
        doc = json::parse(json_text);
    } catch (const json::exception& e) {  // a number too large for a double is out_of_range
        throw ScenarioError(std::string("not valid JSON: ") + e.what());
    }
    if (!doc.is_object()) {
        throw ScenarioError(std::string("the scenario must be a JSON object, not ") +
                            type_name(doc));
    }
    refuse_unknown(doc,
                   {"duration_s", "seed", "faults", "imu", "motors", "plant", "disturbance",
                    "control", "ticks"},
                   "");

    Scenario s;
    if (doc.contains("duration_s")) {
        const json& v = doc["duration_s"];
        if (!v.is_number()) {
            throw ScenarioError(std::string("'duration_s' must be a number, not ") + type_name(v));
        }
        s.duration_s = v.get<double>();
        check_duration(s.duration_s, "'duration_s'");
    }
    if (doc.contains("seed")) {
        const json& v = doc["seed"];
        if (!v.is_number_unsigned()) {
            throw ScenarioError(std::string("'seed' must be an integer from 0 to 2^64-1, not ") +
                                (v.is_number() ? v.dump() : type_name(v)));
        }
        s.seed = v.get<uint64_t>();
    }
    if (doc.contains("faults")) {
        const json& faults = doc["faults"];
        if (!faults.is_object()) {
            throw ScenarioError(std::string("'faults' must be an object, not ") +
                                type_name(faults));
        }
        refuse_unknown(faults, {"queue_create_fails", "no_crystal"}, "faults.");
        for (auto [key, flag] : {std::pair{"queue_create_fails", &s.faults.queue_create_fails},
                                 std::pair{"no_crystal", &s.faults.no_crystal}}) {
            if (faults.contains(key)) {
                const json& v = faults[key];
                if (!v.is_boolean()) {
                    throw ScenarioError(std::string("'faults.") + key +
                                        "' must be true or false, not " + type_name(v));
                }
                *flag = v.get<bool>();
            }
        }
    }
    if (doc.contains("imu")) {
        s.imu = parse_imu(doc["imu"]);
    }
    if (doc.contains("motors")) {
        parse_motors(doc["motors"], s);
    }
    if (doc.contains("plant")) {
        s.plant = parse_plant(doc);
    }
    if (doc.contains("disturbance")) {
        s.disturbance = parse_disturbance(doc);
    }
    if (doc.contains("control")) {
        s.control = parse_control(doc);
    }
    if (doc.contains("ticks")) {
        const json& ticks = doc["ticks"];
        if (!ticks.is_object()) {
            throw ScenarioError(std::string("'ticks' must be an object, not ") + type_name(ticks));
        }
        refuse_unknown(ticks, {"start"}, "ticks.");
        if (ticks.contains("start")) {
            const json& v = ticks["start"];
            if (!v.is_number_unsigned() || v.get<uint64_t>() > UINT32_MAX) {
                throw ScenarioError("'ticks.start' must be an integer from 0 to 4294967295, not " +
                                    (v.is_number() ? v.dump() : std::string(type_name(v))));
            }
            s.tick_start = v.get<uint32_t>();
        }
    }
    return s;
}

Scenario load_scenario_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ScenarioError("cannot read scenario file '" + path + "'");
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_scenario(text.str());
}

nlohmann::json to_json(const Scenario& s) {
    json motors = json::object();
    for (const auto& [id, m] : s.motors) {
        char key[8];
        std::snprintf(key, sizeof(key), "0x%03X", static_cast<unsigned>(id));
        motors[key] = {{"present", m.present},
                       {"answers", m.answers},
                       {"reply_delay_us", m.reply_delay_us},
                       {"close_reply", m.close_garbage ? "garbage" : "echo"}};
        if (m.bit_rate_hz != MotorSettings{}.bit_rate_hz) {
            motors[key]["bit_rate_hz"] = m.bit_rate_hz;  // given only when set
        }
        if (m.window) {
            motors[key].update(window_json(*m.window));
        }
    }
    json imu = {{"present", s.imu.present},
                {"hold_sda_low_ms", s.imu.hold_sda_low_ms},
                {"stretch_scl_us", s.imu.stretch_scl_us}};
    if (s.imu.raw_given) {
        imu["raw"] = {
            {"roll", s.imu.roll}, {"pitch", s.imu.pitch}, {"yaw", s.imu.yaw}, {"temp", s.imu.temp}};
    }
    auto axis_json = [](const AxisMotion& a) {
        json steps = json::array();
        for (const auto& [at, deg] : a.steps) {
            steps.push_back({{"at_s", at}, {"deg", deg}});
        }
        return json{{"tilt_deg", a.tilt_deg},
                    {"steps", steps},
                    {"sway",
                     {{"amplitude_deg", a.sway_amplitude_deg},
                      {"frequency_hz", a.sway_frequency_hz},
                      {"phase_deg", a.sway_phase_deg}}},
                    {"random_walk_deg_per_sqrt_s", a.random_walk_deg_per_sqrt_s}};
    };
    json control = json::object();
    for (auto [axis, gains] :
         {std::pair{"roll", &s.control.roll}, std::pair{"pitch", &s.control.pitch}}) {
        if (*gains) {
            control[axis] = {{"kp", (*gains)->kp}, {"ki", (*gains)->ki}, {"kd", (*gains)->kd}};
        }
    }
    if (s.control.output_max) {
        control["output_max"] = *s.control.output_max;
    }
    json j = {
        {"duration_s", s.duration_s},
        {"seed", s.seed},
        {"faults",
         {{"queue_create_fails", s.faults.queue_create_fails},
          {"no_crystal", s.faults.no_crystal}}},
        {"imu", imu},
        {"motors", motors},
        {"plant",
         {{"imu_rate_hz", s.plant.imu_rate_hz},
          {"angle_noise_deg", s.plant.angle_noise_deg},
          {"rate_noise_dps", s.plant.rate_noise_dps},
          {"accel_noise_g", s.plant.accel_noise_g},
          {"temperature_c", s.plant.temperature_c}}},
        {"disturbance",
         {{"roll", axis_json(s.disturbance.roll)}, {"pitch", axis_json(s.disturbance.pitch)}}},
        {"control", control}};

    // Keys of faults that come and go and of the tick start appear when set.
    if (s.imu.hold_scl_low_ms != 0) {
        j["imu"]["hold_scl_low_ms"] = s.imu.hold_scl_low_ms;
    }
    if (s.imu.window) {
        j["imu"].update(window_json(*s.imu.window));
    }
    if (s.tick_start != 0) {
        j["ticks"] = {{"start", s.tick_start}};
    }
    return j;
}

}  // namespace sim
