// Writes the host's digests of the vectors in the form expected.inc keeps.
#include <cinttypes>
#include <cstdio>

#include "suite.hpp"

int main() {
    std::printf(
        "// The host's digests of the vectors (tests/target/suite.cpp), written by\n"
        "// gimbal-target-expected; the emulated Cortex-M4 must give the same.\n");
    target_suite::run_all(
        [](const target_suite::Result& r, void*) {
            std::printf("{\"%s\", %" PRIu32 ", %" PRIu32 ", 0x%016" PRIx64 "ULL},\n", r.group,
                        r.index, r.items, r.digest);
        },
        nullptr);
    const auto nans = target_suite::nan_count();
    std::fprintf(stderr, "NaN results: %u, of them with the sign bit set: %u\n", nans.total,
                 nans.negative);
    return 0;
}
