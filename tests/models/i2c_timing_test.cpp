// The timing monitor against synthetic transfers: each case shortens one
// parameter below its Standard-mode minimum (or lengthens tr past its maximum)
// in a transfer that is otherwise within every limit, and only that one counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim/models/i2c_timing.hpp"
#include "sim/models/wire.hpp"

namespace {

using Monitor = sim::I2cTimingMonitor;
using sim::Picos;

// Intervals in ns as the master times them: from an instant transition or the
// moment a rising line is seen (70 %) to the master's next action.
struct Timing {
    double hd_sta = 5000, low_hold = 300, low_setup = 5000, high = 5000, su_sta = 5000,
           su_sto = 5000, buf = 6000, capacitance_pf = 50;
};

struct Case {
    const char* name;
    Timing t;
    Monitor::Parameter broken;  // kParameters: none
};

// START, 0xA0 with its ninth clock, repeated START, 0xA1, STOP, START, STOP:
// every parameter is measured at least once.
Monitor run(const Timing& t) {
    sim::EventQueue events;
    sim::Wire scl("scl", events, 4700, t.capacitance_pf * 1e-12);
    sim::Wire sda("sda", events, 4700, t.capacitance_pf * 1e-12);
    Monitor monitor(scl, sda);
    const int c = scl.attach(), d = sda.attach();
    Picos now = sim::kPsPerUs;
    auto wait = [&](double ns) {
        now += static_cast<Picos>(ns * 1000);
        events.run_due(now);
    };
    auto settle = [&] { wait(3 * t.capacitance_pf * 1e-12 * 4700 * 1e9); };  // past 70 %
    auto set = [&](sim::Wire& w, int party, int level) {
        w.set(party, {.pulls_low = level == 0}, now);
    };
    auto start = [&] {
        set(sda, d, 0);
        wait(t.hd_sta);
        set(scl, c, 0);
    };
    const double hold = std::max(0.0, t.low_hold);  // where the data change is not a bit's
    auto stop_from_low = [&] {
        wait(hold);
        set(sda, d, 0);
        wait(t.low_setup);
        set(scl, c, 1);
        settle();
        wait(t.su_sto);
        set(sda, d, 1);
        settle();
    };
    auto bit_clock = [&](int level, bool negative_hold) {
        if (negative_hold) {  // SDA released before SCL falls, still low when it does
            set(sda, d, level);
            wait(-t.low_hold);
            set(scl, c, 0);
            wait(t.low_setup);
        } else {
            set(scl, c, 0);
            wait(hold);
            set(sda, d, level);
            wait(t.low_setup);
        }
        set(scl, c, 1);
        settle();
        wait(t.high);
    };
    auto send = [&](unsigned value) {
        for (int i = 8; i >= 0; i--) {
            const int level = i == 0 ? 1 : static_cast<int>((value >> (i - 1)) & 1);
            bit_clock(level, t.low_hold < 0 && level == 1 && sda.level() == 0);
        }
        set(scl, c, 0);
    };
    settle();
    start();
    send(0xA0);
    wait(hold);
    set(sda, d, 1);
    wait(t.low_setup);
    set(scl, c, 1);
    settle();
    wait(t.su_sta);
    start();  // repeated
    send(0xA1);
    stop_from_low();
    wait(t.buf);
    start();
    stop_from_low();
    return monitor;
}

TEST(I2cTimingMonitor, CountsOnlyTheParameterEachTransferBreaks) {
    const Case cases[] = {
        {"within every limit", {}, Monitor::kParameters},
        {"START held 3 us", {.hd_sta = 3000}, Monitor::kHdSta},
        {"clock low 3 us", {.low_setup = 2700}, Monitor::kLow},
        {"clock high 2.3 us", {.high = 2300}, Monitor::kHigh},
        {"repeated START set up 2.3 us", {.su_sta = 2300}, Monitor::kSuSta},
        {"data released 100 ns before SCL falls", {.low_hold = -100}, Monitor::kHdDat},
        {"data set up 100 ns", {.low_hold = 4800, .low_setup = 100}, Monitor::kSuDat},
        {"STOP set up 2.3 us", {.su_sto = 2300}, Monitor::kSuSto},
        {"bus free 2.3 us", {.buf = 2300}, Monitor::kBuf},
        {"400 pF bus: tr 1.6 us", {.capacitance_pf = 400}, Monitor::kRise},
    };
    for (const Case& c : cases) {
        const Monitor m = run(c.t);
        EXPECT_EQ(m.transactions(), 2u) << c.name;
        for (int p = 0; p < Monitor::kParameters; p++) {
            const auto& f = m.figures(static_cast<Monitor::Parameter>(p));
            EXPECT_GT(f.measured, 0u) << c.name << " " << Monitor::kLimits[p].name;
            EXPECT_EQ(f.violations[Monitor::kStandard] > 0, p == c.broken)
                << c.name << ": " << Monitor::kLimits[p].name << " worst " << f.worst_s;
        }
    }
}

}  // namespace
