// The scenario reader with arbitrary text: it either gives a scenario or
// refuses with a ScenarioError naming the problem, never anything else; and
// a scenario it gives reads back the same from its own JSON form (what
// summary.json records), so the run that a summary names is the run made.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/app/scenario.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::Scenario s;
    try {
        s = sim::parse_scenario(text);
    } catch (const sim::ScenarioError& e) {
        if (std::string(e.what()).empty()) {
            std::fprintf(stderr, "FINDING: a refusal without a message\n");
            std::abort();
        }
        return 0;
    }
    const nlohmann::json once = sim::to_json(s);
    const nlohmann::json twice = sim::to_json(sim::parse_scenario(once.dump()));
    if (once != twice) {
        std::fprintf(stderr, "FINDING: round trip differs:\n%s\n%s\n", once.dump().c_str(),
                     twice.dump().c_str());
        std::abort();
    }
    return 0;
}
