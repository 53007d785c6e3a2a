// The run's error figures and stability verdict on made-up platform motions
// whose answers are known.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <random>
#include <sstream>
#include <string>

#include "named_case.hpp"
#include "sim/app/imu_reads.hpp"
#include "sim/app/outputs/decimal.hpp"
#include "sim/app/metrics.hpp"
#include "sim/models/wire.hpp"

namespace {

constexpr double kStep = 0.02;
constexpr double kPi = std::numbers::pi;

struct Motion : named_case::Case {
    std::function<double(double)> error;  // platform error from the first step on
    std::function<double(double)> base;
    const char* verdict;
    double growth_min, growth_max;
};

class Verdict : public ::testing::TestWithParam<Motion> {};

// Period of about six samples of 0.512 s, as the firmware's loop oscillates.
double loop_wave(double t) {
    return std::sin(2 * kPi * t / 3.0);
}

TEST_P(Verdict, FollowsTheEnvelopeOfTheError) {
    const Motion& m = GetParam();
    sim::Metrics metrics(6.0);
    metrics.control_stepped(5.0);
    for (double t = 0; t < 65.0; t += kStep) {
        const double since = t - 5.0;
        const double e = t < 5.0 ? 30.0 : m.error(since);  // start-up: left out
        metrics.sample(t, {e, e / 2}, {m.base(t), m.base(t)});
    }
    const sim::StabilityFigures s = metrics.stability();
    EXPECT_EQ(s.verdict, m.verdict);
    EXPECT_GE(s.growth_per_s, m.growth_min);
    EXPECT_LE(s.growth_per_s, m.growth_max);
}

const Motion kMotions[] = {
    {"DecayingOscillation", [](double t) { return 10 * std::exp(-0.1 * t) * loop_wave(t); },
     [](double) { return 10.0; }, "stable", -0.12, -0.08},
    {"GrowingOscillation", [](double t) { return 0.5 * std::exp(0.05 * t) * loop_wave(t); },
     [](double) { return 0.0; }, "unstable", 0.04, 0.06},
    {"SteadyOscillationNoBaseDrivesIt", [](double t) { return 5 * loop_wave(t); },
     [](double) { return 0.0; }, "marginal", -0.02, 0.02},
    {"ForcedByASwayingBase", [](double t) { return 2 * std::sin(2 * kPi * 0.1 * t); },
     [](double t) { return 5 * std::sin(2 * kPi * 0.1 * t); }, "stable", -0.02, 0.02},
    {"NoiseOnly", [](double t) { return 0.05 * std::sin(37 * t); }, [](double) { return 0.0; },
     "stable", -0.02, 0.02},
    // A loop that lost the platform: the error wraps around, whatever its envelope does.
    {"Saturated", [](double t) { return t < 20 ? 10 * loop_wave(t) : 170 * loop_wave(t); },
     [](double) { return 0.0; }, "unstable", -1.0, 1.0},
};

INSTANTIATE_TEST_SUITE_P(Motions, Verdict, ::testing::ValuesIn(kMotions), named_case::by_name);

TEST(Metrics, ErrorFiguresStartAtTheFirstStepOrTheFallback) {
    struct Case {
        const char* name;
        double first_step;  // < 0: never
        double settle, rms, peak;
    };
    // Error 3 before 5.5 s, then a square wave of ±1.
    const Case cases[] = {
        {"StepAt5.5", 5.5, 5.5, 1.0, 1.0},
        {"NoStep", -1, 6.0, 1.0, 1.0},
        {"StepAt2", 2.0, 2.0, std::sqrt((3.5 * 9 + 14.5) / 18.0), 3.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Metrics metrics(6.0);
        for (int i = 0; i < 1000; i++) {
            const double t = i * kStep;
            if (c.first_step >= 0 && std::abs(t - c.first_step) < kStep / 2) {
                metrics.control_stepped(t);
            }
            const double e = t < 5.5 - 1e-9 ? 3.0 : (i % 2 ? 1.0 : -1.0);
            metrics.sample(t, {e, 0}, {0, 0});
        }
        ASSERT_TRUE(metrics.settle_s().has_value());
        EXPECT_NEAR(*metrics.settle_s(), c.settle, 1e-9);
        EXPECT_NEAR(metrics.axis(0).rms_error_deg, c.rms, 0.01);
        EXPECT_EQ(metrics.axis(0).peak_error_deg, c.peak);
        EXPECT_EQ(metrics.axis(1).peak_error_deg, 0.0);
    }
}

// What summary.json says of runs too short, or without a control loop: an
// absent figure is null with a reason, never a zero.
TEST(Metrics, AbsentFiguresAreNullWithAReason) {
    struct Case {
        const char* name;
        double first_step, end;  // first_step < 0: never
        bool figures;
        const char* verdict;  // nullptr: absent
    };
    const Case cases[] = {
        {"EndsBeforeTheFallback", -1, 5.0, false, nullptr},
        {"EndsBeforeTheFirstStep", 5.5, 5.4, false, nullptr},
        {"NoCompleteWindow", 5.0, 9.0, true, nullptr},
        {"NeverSteps", -1, 20.0, true, "no control"},
        {"Steps", 5.0, 20.0, true, "stable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Metrics metrics(6.0);
        for (double t = 0; t < c.end; t += kStep) {
            if (c.first_step >= 0 && std::abs(t - c.first_step) < kStep / 2) {
                metrics.control_stepped(t);
            }
            metrics.sample(t, {0.05, 0.05}, {0, 0});
        }
        nlohmann::json m;
        metrics.write(m);
        EXPECT_EQ(m["roll"]["rms_error_deg"].is_number(), c.figures);
        EXPECT_EQ(m["pitch"]["peak_error_deg"].is_number(), c.figures);
        EXPECT_EQ(m["no_figures_reason"].is_string(), !c.figures || !c.verdict);
        EXPECT_EQ(m["stability"], c.verdict ? nlohmann::json(c.verdict) : nlohmann::json());
        EXPECT_EQ(m["oscillation_growth_per_s"].is_number(), c.verdict != nullptr);
    }
}

// The read counter against a master driving the wires bit by bit: "S" START,
// "P" STOP, "A0+" a byte acknowledged, "A0-" one not.
TEST(ImuReadCounter, CountsEveryFailedReadTheLastOneToo) {
    struct Case {
        const char* script;
        uint64_t attempts, succeeded, failed;
    };
    const Case cases[] = {
        {"S A0+ 3D+ S A1+ 12+ 34- P", 1, 1, 0},
        {"S A0-", 1, 0, 1},  // the firmware gives up without a STOP
        {"S A0- S A0-", 2, 0, 2},
        {"S A0+ 3D-", 1, 0, 1},
        {"S A0+ 3D+ S A1-", 1, 0, 1},
        {"S A0+ 3D+ P", 1, 0, 1},
        {"S A0+ 3D+ S A1+ 12+", 1, 0, 0},  // still under way
        {"S A0- S A0+ 3D+ S A1+ 12- P", 2, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        sim::Wire scl("scl"), sda("sda");
        const int m_scl = scl.attach(), m_sda = sda.attach();
        sim::Picos t = 0;
        const auto set = [&](sim::Wire& w, int party, int level) {
            w.set(party, {.pulls_low = level == 0, .pull_up = true}, t += 1000);
        };
        set(scl, m_scl, 1);
        set(sda, m_sda, 1);
        sim::ImuReadCounter reads(scl, sda);
        std::istringstream in(c.script);
        for (std::string token; in >> token;) {
            if (token == "S") {
                set(sda, m_sda, 1), set(scl, m_scl, 1), set(sda, m_sda, 0), set(scl, m_scl, 0);
            } else if (token == "P") {
                set(sda, m_sda, 0), set(scl, m_scl, 1), set(sda, m_sda, 1);
            } else {
                const int byte = std::stoi(token.substr(0, 2), nullptr, 16);
                for (int bit = 7; bit >= -1; bit--) {
                    set(sda, m_sda, bit >= 0 ? (byte >> bit) & 1 : token[2] == '-');
                    set(scl, m_scl, 1), set(scl, m_scl, 0);
                }
            }
        }
        EXPECT_EQ(reads.attempts(), c.attempts);
        EXPECT_EQ(reads.succeeded(), c.succeeded);
        EXPECT_EQ(reads.failed(), c.failed);
    }
}

}  // namespace

namespace {

// The files' columns must read as printf wrote them: ties, signs of zero,
// tiny and huge values, and random bit patterns.
TEST(Decimal, WritesWhatPrintfWrites) {
    std::mt19937_64 random(7);
    std::vector<double> values = {0.0,    -0.0,         0.5,          2.5,    0.125, -0.0005,
                                  5e-324, 1073741823.9, 1073741824.5, -1e300, NAN,   INFINITY};
    for (int i = 0; i < 40000; i++) {
        values.push_back(i % 2 ? std::bit_cast<double>(random())
                               : std::ldexp(static_cast<int32_t>(random()), -40));
    }
    for (const double v : values) {
        for (int decimals = 0; decimals <= 7; decimals++) {
            char expected[400];
            std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
            std::string got;
            sim::append_fixed(got, v, decimals);
            ASSERT_EQ(got, expected) << decimals;
        }
    }
}

}  // namespace
