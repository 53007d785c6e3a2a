// The records of layouts.def as this image's compiler lays them out: the
// number of fields, then each field's offset and size in bytes, in the list's
// order. Read by the emulator by name; kept through --gc-sections by the
// link's --undefined.
#include <cstddef>
#include <cstdint>

#include "cmsis_os2.h"
#include "mf4010v2.h"
#include "pid.h"
#include "stm32f4xx_hal.h"

namespace {
struct Field {
    uint32_t offset, size;
};
#define GIMBAL_LAYOUT(record, field) \
    {offsetof(record, field), sizeof(static_cast<record*>(nullptr)->field)},
constexpr Field kFields[] = {
#include "layouts.def"
};
#undef GIMBAL_LAYOUT
constexpr std::size_t kCount = sizeof kFields / sizeof kFields[0];

struct Table {
    uint32_t count;
    Field fields[kCount];
};
constexpr Table table() {
    Table t{kCount, {}};
    for (std::size_t i = 0; i < kCount; ++i) {
        t.fields[i] = kFields[i];
    }
    return t;
}
}  // namespace

extern "C" const Table gimbal_vb_layouts;
const Table gimbal_vb_layouts = table();
