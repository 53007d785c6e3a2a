// The run's what-if gains, apart from the hooks that apply them: a link
// without the host firmware (the ARM image's) sets them without pulling the
// hooks and the firmware functions they wrap.
#include "sim/platform.hpp"

namespace sim {

namespace {
ControlOverride g_override;
uintptr_t g_seen[2] = {0, 0};
}  // namespace

int controller_axis(uintptr_t pid) {
    for (int i = 0; i < 2; i++) {
        if (g_seen[i] == 0) {
            g_seen[i] = pid;
        }
        if (g_seen[i] == pid) {
            return i;
        }
    }
    return -1;
}

void set_control_override(const ControlOverride& control) {
    g_override = control;
}

const ControlOverride& control_override() {
    return g_override;
}

}  // namespace sim
