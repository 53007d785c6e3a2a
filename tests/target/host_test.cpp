// The host's results of the vectors against the committed digests, which the
// emulated Cortex-M4 image checks its own results against: equal on both sides
// means bit-identical.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "suite.hpp"

namespace {

const target_suite::Result kExpected[] = {
#include "expected.inc"
};

std::vector<target_suite::Result> run_on_host() {
    std::vector<target_suite::Result> got;
    target_suite::run_all(
        [](const target_suite::Result& r, void* context) {
            static_cast<std::vector<target_suite::Result>*>(context)->push_back(r);
        },
        &got);
    return got;
}

TEST(TargetVectors, HostGivesTheCommittedDigests) {
    const auto got = run_on_host();
    ASSERT_EQ(got.size(), std::size(kExpected))
        << "chunk count changed: regenerate tests/target/expected.inc with "
           "build/sim/tests/target/gimbal-target-expected";
    int differing = 0;
    for (std::size_t i = 0; i < got.size(); i++) {
        const auto& g = got[i];
        const auto& e = kExpected[i];
        EXPECT_EQ(std::string(g.group), std::string(e.group)) << "chunk " << i;
        EXPECT_EQ(g.index, e.index) << g.group;
        EXPECT_EQ(g.items, e.items) << g.group << " " << g.index;
        if (g.digest != e.digest) {
            differing++;
            ADD_FAILURE() << g.group << " chunk " << g.index << ": host digest " << std::hex
                          << g.digest << ", committed " << e.digest;
        }
    }
    EXPECT_EQ(differing, 0) << "if the firmware's results changed on purpose, regenerate "
                               "tests/target/expected.inc and run the emulated image";
}

// Every group must see its inputs: a group whose digest does not move with
// its inputs compares nothing.
TEST(TargetVectors, ChunksOfAGroupDiffer) {
    const auto got = run_on_host();
    for (std::size_t i = 1; i < got.size(); i++) {
        if (std::string(got[i].group) == got[i - 1].group) {
            EXPECT_NE(got[i].digest, got[i - 1].digest) << got[i].group << " " << got[i].index;
        }
    }
    EXPECT_GT(target_suite::nan_count().total, 0U) << "the PID vectors must reach NaN";
}

}  // namespace
