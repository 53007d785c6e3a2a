// The run's what-if gains, apart from the hooks that apply them: a link
// without the host firmware (the ARM image's) sets them without pulling the
// hooks and the firmware functions they wrap.
#include "sim/platform.hpp"

namespace sim {

namespace {
ControlOverride g_override;
}  // namespace

void set_control_override(const ControlOverride& control) {
    g_override = control;
}

const ControlOverride& control_override() {
    return g_override;
}

}  // namespace sim
