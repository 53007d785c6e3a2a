#include "sim/app/scenario.hpp"

#include <cmath>
#include <fstream>
#include <set>
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

Scenario::Imu parse_imu(const json& imu) {
    if (!imu.is_object()) {
        throw ScenarioError(std::string("'imu' must be an object, not ") + type_name(imu));
    }
    refuse_unknown(imu, {"present", "raw", "hold_sda_low_ms", "stretch_scl_us"}, "imu.");
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
    return s;
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
    refuse_unknown(doc, {"duration_s", "seed", "faults", "imu"}, "");

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
    return {{"duration_s", s.duration_s},
            {"seed", s.seed},
            {"faults",
             {{"queue_create_fails", s.faults.queue_create_fails},
              {"no_crystal", s.faults.no_crystal}}},
            {"imu",
             {{"present", s.imu.present},
              {"raw",
               {{"roll", s.imu.roll},
                {"pitch", s.imu.pitch},
                {"yaw", s.imu.yaw},
                {"temp", s.imu.temp}}},
              {"hold_sda_low_ms", s.imu.hold_sda_low_ms},
              {"stretch_scl_us", s.imu.stretch_scl_us}}}};
}

}  // namespace sim
