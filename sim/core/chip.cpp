#include "sim/core/chip.hpp"

#include <cstdio>
#include <cstdlib>

namespace sim {

void Chip::none() {
    std::fprintf(stderr, "virtual board: no board in this process\n");
    std::abort();
}

}  // namespace sim
