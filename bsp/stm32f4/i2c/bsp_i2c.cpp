// Hardware I2C channel table.
#include "bsp_i2c.h"

#include <iterator>

#include "i2c.h"

namespace {
bsp_i2c_t i2cs[] = {
    {nullptr},  // channel 0: no controller
    {&hi2c2},   // channel 1: I2C2, PF0/PF1
};
}  // namespace

bsp_i2c_t* bsp_i2c_get_handle(int ch) {
    if (ch < 0 || ch >= static_cast<int>(std::size(i2cs))) {
        return nullptr;
    }
    return &i2cs[ch];
}
