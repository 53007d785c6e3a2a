// Rules of the chip that the firmware can break. A breach that corrupts
// execution on the chip halts the board (Cpu::break_rule); one the chip
// tolerates, or that only degrades it, is recorded here and reported in
// summary.json's "board_rules".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/core/time.hpp"

namespace sim {

class BoardRules {
  public:
    struct Record {
        std::string rule;  // what is broken, with its limit ("CAN2 bit time ...")
        std::string unit;  // of `worst` ("Hz", "s", ...)
        uint64_t count = 0;
        Picos first = 0;
        double worst = 0;
        bool higher_is_worse = true;
    };

    /// One more breach of `rule` at time `at` with value `value`; the worst
    /// value is the highest (or the lowest when !higher_is_worse).
    void record(std::string_view rule, double value, std::string_view unit, Picos at,
                bool higher_is_worse = true) {
        for (Record& r : records_) {
            if (r.rule == rule) {
                r.count++;
                if (higher_is_worse ? value > r.worst : value < r.worst) {
                    r.worst = value;
                }
                return;
            }
        }
        records_.push_back(
            Record{std::string(rule), std::string(unit), 1, at, value, higher_is_worse});
    }
    /// In the order each rule was first broken.
    const std::vector<Record>& records() const { return records_; }

  private:
    std::vector<Record> records_;
};

}  // namespace sim
