#include "sim/app/scenario.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <type_traits>
#include <utility>

#include "sim/app/input_file.hpp"
// GCC follows every alternative of a field's member pointer, also those a
// small struct has no member of, and warns of reads it never makes.
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wunknown-warning-option"

namespace sim {

namespace {

using nlohmann::json;

// ---- The scenario's own field tables --------------------------------------------------

// Output limit in 0.01 degree/s: the firmware truncates the output to a
// 32-bit integer, so a limit must keep every output inside that range.
constexpr double kMaxOutputLimit = 2147483520.0;  // largest float below 2^31
constexpr double kMaxGain = 1e6;
constexpr double kMaxSeed = 18446744073709551615.0;  // 2^64 - 1, said so in messages

void check_run_length(double seconds, const std::string& what) {
    check_duration(seconds, what);
}

// clang-format off
const Field<Scenario> kScenarioFields[] = {
    {.key = "duration_s", .member = &Scenario::duration_s, .unit = "s", .min = 0, .max = kMaxDurationS,
     .meaning = "virtual seconds to run", .check = check_run_length},
    {"seed", &Scenario::seed, "", 0, kMaxSeed, "seed of the run's random choices"},
};
const Field<Scenario::Gains> kGainFields[] = {
    {"kp", &Scenario::Gains::kp, "", -kMaxGain, kMaxGain, "proportional gain"},
    {"ki", &Scenario::Gains::ki, "", -kMaxGain, kMaxGain, "integral gain"},
    {"kd", &Scenario::Gains::kd, "", -kMaxGain, kMaxGain, "derivative gain"},
};
const Field<Scenario::Control> kControlFields[] = {
    {.key = "output_max", .member = &Scenario::Control::output_max, .unit = "0.01 deg/s", .min = 0,
     .max = kMaxOutputLimit,
     .meaning = "the controllers' output and running-sum limit (so that the firmware's conversion to a 32-bit speed cannot overflow)",
     .default_text = "the firmware's 36000"},
};
// clang-format on

// ---- Reading and writing a table ------------------------------------------------------

template <class... F>
struct Overload : F... {
    using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;

std::string number_text(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string integer_text(double value) {
    return value >= kMaxSeed ? "2^64-1" : std::to_string(static_cast<long long>(value));
}

std::string shown(const json& v) {
    return v.is_number() ? v.dump() : v.type_name();
}

// The key's first part ("raw" of "raw.roll") and the rest ("" when none).
std::pair<std::string, std::string> split(std::string_view key) {
    const auto dot = key.find('.');
    if (dot == std::string_view::npos) {
        return {std::string(key), ""};
    }
    return {std::string(key.substr(0, dot)), std::string(key.substr(dot + 1))};
}

// The value a key names in `object`, or null when absent.
const json* find(const json& object, std::string_view key) {
    const auto [head, rest] = split(key);
    if (!object.is_object() || !object.contains(head)) {
        return nullptr;
    }
    const json& v = object[head];
    return rest.empty() ? &v : find(v, rest);
}

Picos unit_picos(std::string_view unit) {
    return unit == "ms" ? kPsPerMs : unit == "us" ? kPsPerUs : kPsPerS;
}

template <class S>
void read_field(const json& v, const Field<S>& f, const std::string& path, S& s) {
    auto refuse = [&](const std::string& what) {
        throw ScenarioError("'" + path + "' must be " + what + ", not " + shown(v));
    };
    auto number = [&]() {
        if (f.check != nullptr) {
            if (!v.is_number()) {
                throw ScenarioError("'" + path + "' must be a number, not " + v.type_name());
            }
            f.check(v.get<double>(), "'" + path + "'");
            return v.get<double>();
        }
        if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < f.min ||
            v.get<double>() > f.max) {
            refuse("a number from " + number_text(f.min) + " to " + number_text(f.max));
        }
        return v.get<double>();
    };
    auto whole = [&]() {
        if (!v.is_number_unsigned() || static_cast<double>(v.get<uint64_t>()) > f.max) {
            refuse("an integer from " + integer_text(f.min) + " to " + integer_text(f.max));
        }
        return v.get<uint64_t>();
    };
    std::visit(
        Overload{
            [&](bool S::*m) {
                if (f.words[0] != nullptr) {
                    if (!v.is_string() || (v != f.words[0] && v != f.words[1])) {
                        throw ScenarioError("'" + path + "' must be \"" + f.words[0] + "\" or \"" +
                                            f.words[1] + "\", not " + v.dump());
                    }
                    s.*m = v == f.words[1];
                } else if (!v.is_boolean()) {
                    throw ScenarioError("'" + path + "' must be true or false, not " +
                                        v.type_name());
                } else {
                    s.*m = v.get<bool>();
                }
            },
            [&](double S::*m) { s.*m = number(); },
            [&](std::optional<double> S::*m) { s.*m = number(); },
            [&](int16_t S::*m) {
                const bool integral =
                    v.is_number_integer() ||
                    (v.is_number_float() && std::trunc(v.get<double>()) == v.get<double>());
                if (!integral || v.get<double>() < f.min || v.get<double>() > f.max) {
                    refuse("an integer from " + integer_text(f.min) + " to " + integer_text(f.max));
                }
                s.*m = static_cast<int16_t>(v.get<double>());
            },
            [&](uint32_t S::*m) { s.*m = static_cast<uint32_t>(whole()); },
            [&](uint64_t S::*m) { s.*m = whole(); },
            [&](Duration S::*m) {
                const Picos unit = unit_picos(f.unit);
                s.*m = f.whole ? Duration{whole() * unit} : Duration::of(number(), unit);
            },
        },
        f.member);
}

/// Reads the keys of `fields` that `object` holds, in the table's order.
template <class S>
void read_fields(const json& object, const std::string& prefix, Fields<S> fields, S& s) {
    for (const Field<S>& f : fields) {
        if (const json* v = find(object, f.key)) {
            read_field(*v, f, prefix + f.key, s);
        }
    }
}

template <class S>
json field_json(const Field<S>& f, const S& s) {
    return std::visit(
        Overload{
            [&](bool S::*m) {
                return f.words[0] != nullptr ? json(f.words[s.*m ? 1 : 0]) : json(s.*m);
            },
            [&](std::optional<double> S::*m) { return s.*m ? json(*(s.*m)) : json(); },
            [&](Duration S::*m) {
                const Picos unit = unit_picos(f.unit);
                return f.whole ? json((s.*m).ps / unit) : json((s.*m).in(unit));
            },
            [&](auto m) { return json(s.*m); },
        },
        f.member);
}

/// The keys of `fields` as `s` holds them, into `out` (keys with a dot into
/// their object).
template <class S>
void write_fields(json& out, Fields<S> fields, const S& s) {
    static const S defaults{};
    for (const Field<S>& f : fields) {
        json v = field_json(f, s);
        if (v.is_null() || (f.when_set && v == field_json(f, defaults))) {
            continue;
        }
        auto [head, rest] = split(f.key);
        (rest.empty() ? out[head] : out[head][rest]) = std::move(v);
    }
}

/// Keys `fields` allows directly in the object at `sub` ("" for its own).
template <class S>
void allowed(std::set<std::string>& keys, Fields<S> fields, std::string_view sub = "") {
    for (const Field<S>& f : fields) {
        auto [head, rest] = split(f.key);
        if (sub.empty()) {
            keys.insert(head);
        } else if (head == sub && !rest.empty()) {
            keys.insert(split(rest).first);
        }
    }
}

void refuse_unknown(const json& object, const std::set<std::string>& known,
                    const std::string& prefix) {
    for (const auto& [key, value] : object.items()) {
        if (known.count(key) == 0) {
            throw ScenarioError("unknown key '" + prefix + key + "'");
        }
    }
}

const json& object_at(const json& parent, const std::string& key, const std::string& path) {
    const json& v = parent[key];
    if (!v.is_object()) {
        throw ScenarioError("'" + path + "' must be an object, not " + v.type_name());
    }
    return v;
}

// An object of the scenario whose keys are those of `tables` (and `extra`),
// each sub-object checked before any key is read.
template <class... S>
void check_keys(const json& object, const std::string& prefix, std::set<std::string> extra,
                Fields<S>... tables) {
    (allowed(extra, tables), ...);
    refuse_unknown(object, extra, prefix);
    for (const std::string& key : extra) {
        std::set<std::string> inner;
        (allowed(inner, tables, key), ...);
        if (!inner.empty() && object.contains(key)) {
            refuse_unknown(object_at(object, key, prefix + key), inner, prefix + key + ".");
        }
    }
}

// ---- The scenario's objects -----------------------------------------------------------

AxisMotion parse_axis_motion(const json& parent, const std::string& axis) {
    const std::string path = "disturbance." + axis;
    const json& m = object_at(parent, axis, path);
    check_keys(m, path + ".", {"steps"}, Fields<AxisMotion>(kAxisMotionFields));
    AxisMotion a;
    read_fields(m, path + ".", Fields<AxisMotion>(kAxisMotionFields), a);
    if (m.contains("steps")) {
        const json& steps = m["steps"];
        if (!steps.is_array()) {
            throw ScenarioError("'" + path + ".steps' must be a list, not " + steps.type_name());
        }
        for (std::size_t i = 0; i < steps.size(); i++) {
            const std::string item = path + ".steps[" + std::to_string(i) + "]";
            if (!steps[i].is_object()) {
                throw ScenarioError("'" + item + "' must be an object, not " +
                                    steps[i].type_name());
            }
            refuse_unknown(steps[i], {"at_s", "deg"}, item + ".");
            for (const char* key : {"at_s", "deg"}) {
                if (!steps[i].contains(key)) {
                    throw ScenarioError("'" + item + "." + key + "' is missing");
                }
            }
            // clang-format off
            const Field<AxisMotion> at{"", &AxisMotion::tilt_deg, "s", 0, kMaxDurationS, ""};
            const Field<AxisMotion> deg{"", &AxisMotion::tilt_deg, "deg", -90, 90, ""};
            // clang-format on
            AxisMotion step;
            read_field(steps[i]["at_s"], at, item + ".at_s", step);
            const double at_s = step.tilt_deg;
            read_field(steps[i]["deg"], deg, item + ".deg", step);
            a.steps.emplace_back(at_s, step.tilt_deg);
        }
    }
    return a;
}

Scenario::Control parse_control(const json& doc) {
    const json& c = object_at(doc, "control", "control");
    check_keys(c, "control.", {"roll", "pitch"}, Fields<Scenario::Control>(kControlFields));
    Scenario::Control s;
    for (auto [axis, gains] : {std::pair{"roll", &s.roll}, std::pair{"pitch", &s.pitch}}) {
        if (!c.contains(axis)) {
            continue;
        }
        const std::string path = std::string("control.") + axis;
        const json& g = object_at(c, axis, path);
        check_keys(g, path + ".", {}, Fields<Scenario::Gains>(kGainFields));
        for (const auto& f : kGainFields) {
            if (!g.contains(f.key)) {
                throw ScenarioError("'" + path + "." + f.key +
                                    "' is missing (give all three gains)");
            }
        }
        Scenario::Gains v;
        read_fields(g, path + ".", Fields<Scenario::Gains>(kGainFields), v);
        *gains = v;
    }
    read_fields(c, "control.", Fields<Scenario::Control>(kControlFields), s);
    return s;
}

// "from_s", "until_s", "every_s" of an object whose faults come and go;
// compared as the board holds them, to the picosecond.
std::optional<FaultWindow> read_window(const json& object, const std::string& prefix) {
    std::set<std::string> keys;
    allowed(keys, Fields<FaultWindow>(kWindowFields));
    if (std::none_of(keys.begin(), keys.end(), [&](auto& k) { return object.contains(k); })) {
        return std::nullopt;
    }
    FaultWindow w;
    read_fields(object, prefix, Fields<FaultWindow>(kWindowFields), w);
    if (object.contains("until_s") && w.until <= w.from) {
        throw ScenarioError("'" + prefix + "until_s' must be later than from_s");
    }
    if (object.contains("every_s") &&
        (!object.contains("until_s") || w.every.ps <= w.until.ps - w.from.ps)) {
        throw ScenarioError("'" + prefix +
                            "every_s' needs until_s and must be longer than the window");
    }
    return w;
}

void parse_imu(const json& doc, Scenario& s) {
    const json& imu = object_at(doc, "imu", "imu");
    check_keys(imu, "imu.", {}, Fields<ImuSettings>(kImuFields),
               Fields<FaultWindow>(kWindowFields));
    ImuSettings& settings = s.board.imu;
    read_fields(imu, "imu.", Fields<ImuSettings>(kImuFields), settings);
    settings.registers_held = imu.contains("raw");
    s.board.imu_window = read_window(imu, "imu.");
}

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

void parse_motors(const json& doc, Scenario& s) {
    const json& motors = object_at(doc, "motors", "motors");
    std::map<uint32_t, std::string> named;
    for (const auto& [key, entry] : motors.items()) {
        const uint32_t id = motor_id(key);
        const std::string path = "motors." + key;
        if (const auto [it, fresh] = named.emplace(id, key); !fresh) {
            throw ScenarioError("'" + path + "' names the same motor as 'motors." + it->second +
                                "'");
        }
        const json& m = object_at(motors, key, path);
        check_keys(m, path + ".", {}, Fields<MotorConfig>(kMotorFields),
                   Fields<FaultWindow>(kWindowFields));
        auto& all = s.board.motors;
        auto motor = std::find_if(all.begin(), all.end(), [&](auto& c) { return c.id == id; });
        if (motor == all.end()) {
            motor = all.insert(all.end(), MotorConfig{id});
        }
        read_fields(m, path + ".", Fields<MotorConfig>(kMotorFields), *motor);
        if (auto w = read_window(m, path + ".")) {
            s.board.motor_windows[id] = *w;
        }
    }
    // The bus's nodes in the order of their identifiers, whatever the file's.
    std::sort(s.board.motors.begin(), s.board.motors.end(),
              [](const MotorConfig& a, const MotorConfig& b) { return a.id < b.id; });
}

// Refuses a key given twice in one object, naming it with its path.
class DuplicateKeys {
  public:
    bool operator()(int depth, json::parse_event_t event, const json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
            case json::parse_event_t::array_start:
                frames_.push_back({path(), event == json::parse_event_t::array_start, {}, "", 0});
                break;
            case json::parse_event_t::object_end:
            case json::parse_event_t::array_end:
                frames_.pop_back();
                element_done();
                break;
            case json::parse_event_t::key: {
                Frame& f = frames_.back();
                f.key = parsed.get<std::string>();
                if (!f.keys.insert(f.key).second) {
                    throw ScenarioError("duplicate key '" + path() + "'");
                }
                break;
            }
            case json::parse_event_t::value:
                element_done();
                break;
        }
        (void)depth;
        return true;
    }

  private:
    struct Frame {
        std::string path;
        bool array;
        std::set<std::string> keys;
        std::string key;
        std::size_t index = 0;
    };
    // Path of the element being read in the innermost object or list.
    std::string path() const {
        if (frames_.empty()) {
            return "";
        }
        const Frame& f = frames_.back();
        if (f.array) {
            return f.path + "[" + std::to_string(f.index) + "]";
        }
        return f.path.empty() ? f.key : f.path + "." + f.key;
    }
    void element_done() {
        if (!frames_.empty() && frames_.back().array) {
            frames_.back().index++;
        }
    }
    std::vector<Frame> frames_;
};

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
        doc = json::parse(json_text, DuplicateKeys());
    } catch (const json::exception& e) {  // a number too large for a double is out_of_range
        throw ScenarioError(std::string("not valid JSON: ") + e.what());
    }
    if (!doc.is_object()) {
        throw ScenarioError(std::string("the scenario must be a JSON object, not ") +
                            doc.type_name());
    }
    check_keys(doc, "", {"imu", "motors", "plant", "disturbance", "control"},
               Fields<Scenario>(kScenarioFields), Fields<KernelSettings>(kKernelFields),
               Fields<RccSettings>(kRccFields), Fields<BoardConfig::I2cBus>(kI2cBusFields));
    Scenario s;
    read_fields(doc, "", Fields<Scenario>(kScenarioFields), s);
    read_fields(doc, "", Fields<KernelSettings>(kKernelFields), s.kernel);
    read_fields(doc, "", Fields<RccSettings>(kRccFields), s.board.rcc);
    read_fields(doc, "", Fields<BoardConfig::I2cBus>(kI2cBusFields), s.board.i2c);
    if (doc.contains("imu")) {
        parse_imu(doc, s);
    }
    if (doc.contains("motors")) {
        parse_motors(doc, s);
    }
    if (doc.contains("plant")) {
        const json& plant = object_at(doc, "plant", "plant");
        check_keys(plant, "plant.", {}, Fields<PlantConfig>(kPlantFields));
        read_fields(plant, "plant.", Fields<PlantConfig>(kPlantFields), *s.board.plant);
    }
    if (doc.contains("disturbance")) {
        const json& d = object_at(doc, "disturbance", "disturbance");
        refuse_unknown(d, {"roll", "pitch"}, "disturbance.");
        for (auto [axis, motion] :
             {std::pair{"roll", &s.board.plant->roll}, std::pair{"pitch", &s.board.plant->pitch}}) {
            if (d.contains(axis)) {
                *motion = parse_axis_motion(d, axis);
            }
        }
    }
    if (doc.contains("control")) {
        s.control = parse_control(doc);
    }
    return s;
}

Scenario load_scenario_file(const std::string& path) {
    return parse_scenario(read_input_file(path));
}

nlohmann::json to_json(const Scenario& s) {
    json j = json::object();
    write_fields(j, Fields<Scenario>(kScenarioFields), s);
    write_fields(j, Fields<KernelSettings>(kKernelFields), s.kernel);
    write_fields(j, Fields<RccSettings>(kRccFields), s.board.rcc);
    write_fields(j, Fields<BoardConfig::I2cBus>(kI2cBusFields), s.board.i2c);

    json& imu = j["imu"] = json::object();
    write_fields(imu, Fields<ImuSettings>(kImuFields), s.board.imu);
    if (!s.board.imu.registers_held) {
        imu.erase("raw");
    }
    if (s.board.imu_window) {
        write_fields(imu, Fields<FaultWindow>(kWindowFields), *s.board.imu_window);
    }
    json& motors = j["motors"] = json::object();
    for (const MotorConfig& m : s.board.motors) {
        char key[8];
        std::snprintf(key, sizeof(key), "0x%03X", static_cast<unsigned>(m.id));
        write_fields(motors[key], Fields<MotorConfig>(kMotorFields), m);
        if (auto w = s.board.motor_windows.find(m.id); w != s.board.motor_windows.end()) {
            write_fields(motors[key], Fields<FaultWindow>(kWindowFields), w->second);
        }
    }
    const PlantConfig& plant = *s.board.plant;
    write_fields(j["plant"], Fields<PlantConfig>(kPlantFields), plant);
    for (auto [axis, a] : {std::pair{"roll", &plant.roll}, std::pair{"pitch", &plant.pitch}}) {
        json& out = j["disturbance"][axis];
        write_fields(out, Fields<AxisMotion>(kAxisMotionFields), *a);
        out["steps"] = json::array();
        for (const auto& [at, deg] : a->steps) {
            out["steps"].push_back({{"at_s", at}, {"deg", deg}});
        }
    }
    json& control = j["control"] = json::object();
    for (auto [axis, gains] :
         {std::pair{"roll", &s.control.roll}, std::pair{"pitch", &s.control.pitch}}) {
        if (*gains) {
            write_fields(control[axis], Fields<Scenario::Gains>(kGainFields), **gains);
        }
    }
    write_fields(control, Fields<Scenario::Control>(kControlFields), s.control);
    return j;
}

// ---- The key table and the fuzz dictionary --------------------------------------------

namespace {

template <class S>
void key_rows(std::vector<ScenarioKey>& rows, const std::string& prefix, Fields<S> fields) {
    static const S defaults{};
    for (const Field<S>& f : fields) {
        ScenarioKey k{prefix + f.key, "", "", f.meaning};
        const json d = field_json(f, defaults);
        k.default_text = f.default_text != nullptr ? f.default_text : d.dump();
        const std::string unit = *f.unit != '\0' ? std::string(" ") + f.unit : "";
        if (std::holds_alternative<bool S::*>(f.member)) {
            k.range = f.words[0] != nullptr
                          ? std::string("`\"") + f.words[0] + "\"`, `\"" + f.words[1] + "\"`"
                          : "true, false";
        } else if (d.is_number_integer() || std::holds_alternative<int16_t S::*>(f.member)) {
            k.range = integer_text(f.min) + " to " + integer_text(f.max) + unit;
        } else {
            k.range = number_text(f.min) + " to " + number_text(f.max) + unit;
        }
        if (f.check != nullptr) {
            k.range = "above 0 to " + number_text(f.max) + unit;
        }
        rows.push_back(k);
    }
}

void object_row(std::vector<ScenarioKey>& rows, const char* path, const char* default_text,
                const char* meaning) {
    rows.push_back({path, default_text, "", meaning, false});
}

}  // namespace

std::vector<ScenarioKey> scenario_keys() {
    std::vector<ScenarioKey> rows;
    key_rows(rows, "", Fields<Scenario>(kScenarioFields));
    key_rows(rows, "", Fields<KernelSettings>(kKernelFields));
    key_rows(rows, "", Fields<RccSettings>(kRccFields));
    key_rows(rows, "", Fields<BoardConfig::I2cBus>(kI2cBusFields));
    object_row(rows, "imu", "present, fed by the plant",
               "the JY901P on the bit-banged bus (I2C address 0x50): angles in 180/32768 degree, "
               "the temperature in hundredths of a degree");
    key_rows(rows, "imu.", Fields<ImuSettings>(kImuFields));
    key_rows(rows, "imu.", Fields<FaultWindow>(kWindowFields));
    object_row(rows, "motors.ID", "0x141 and 0x142, present and answering",
               "one entry per motor, its identifier in hexadecimal (\"0x141\")");
    key_rows(rows, "motors.ID.", Fields<MotorConfig>(kMotorFields));
    key_rows(rows, "motors.ID.", Fields<FaultWindow>(kWindowFields));
    object_row(rows, "plant", "",
               "the gimbal the IMU measures (unless `imu.raw` holds the registers)");
    key_rows(rows, "plant.", Fields<PlantConfig>(kPlantFields));
    object_row(rows, "disturbance.AXIS", "still",
               "the base's motion about `roll` or `pitch`: the sum of the keys below");
    key_rows(rows, "disturbance.AXIS.", Fields<AxisMotion>(kAxisMotionFields));
    object_row(
        rows, "disturbance.AXIS.steps", "[]",
        "list of `{\"at_s\": S, \"deg\": D}`: D degrees (-90 to 90) added from S seconds on");
    object_row(rows, "control.AXIS", "the firmware's constants (Kp 200, Ki 5, Kd 50)",
               "`roll` or `pitch`, all three gains: that axis's controller for this run");
    key_rows(rows, "control.AXIS.", Fields<Scenario::Gains>(kGainFields));
    key_rows(rows, "control.", Fields<Scenario::Control>(kControlFields));
    return rows;
}

std::string scenario_key_table() {
    std::string t = "| key | default | range | meaning |\n|---|---|---|---|\n";
    for (const ScenarioKey& k : scenario_keys()) {
        t +=
            "| `" + k.path + "` | " + k.default_text + " | " + k.range + " | " + k.meaning + " |\n";
    }
    return t;
}

std::string scenario_dictionary() {
    std::set<std::string> words = {"roll", "pitch", "at_s", "deg", "steps"};
    for (const ScenarioKey& k : scenario_keys()) {
        for (std::string_view rest = k.path; !rest.empty();) {
            auto [head, tail] = split(rest);
            if (head != "ID" && head != "AXIS") {
                words.insert(head);
            }
            rest = rest.substr(std::min(rest.size(), head.size() + 1));
        }
    }
    std::string d = "# Made from the scenario's field tables (sim/app/scenario.cpp).\n";
    for (const std::string& w : words) {
        d += "\"" + w + "\"\n";
    }
    for (const char* v :
         {"\"\\\"0x141\\\"\"", "\"\\\"0x142\\\"\"", "\"\\\"0x7FF\\\"\"", "\"\\\"echo\\\"\"",
          "\"\\\"garbage\\\"\"", "\"true\"", "\"false\"", "\"null\"", "\"1e308\"", "\"-0.0\"",
          "\"18446744073709551615\"", "\"4294967295\"", "\"32767\"", "\"-32768\"", "\"0.001\""}) {
        d += std::string(v) + "\n";
    }
    return d;
}

}  // namespace sim
