// Board table of the bit-banged I2C buses.
#include "bsp_soft_i2c.h"

#include <iterator>

#include "main.h"

namespace {
bsp_soft_i2c_t soft_i2cs[] = {
    {SCL_GPIO_Port, SDA_GPIO_Port, SCL_Pin, SDA_Pin},  // 0: clock PF14, data PF12
};
}  // namespace

bsp_soft_i2c_t* bsp_soft_i2c_get_handle(int ch) {
    if (ch < 0 || ch >= static_cast<int>(std::size(soft_i2cs))) {
        return nullptr;
    }
    return &soft_i2cs[ch];
}
