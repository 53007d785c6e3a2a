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
    refuse_unknown(doc, {"duration_s", "seed", "faults"}, "");

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
              {"no_crystal", s.faults.no_crystal}}}};
}

}  // namespace sim
