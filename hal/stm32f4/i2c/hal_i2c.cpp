// Hardware I2C port of the STM32F4 board: blocking master transfers through
// the HAL. Addresses are in the HAL's 8-bit form and pass through unchanged.
#include "hal_i2c.h"

#include "bsp_i2c.h"
#include "i2c_if.h"
#include "stm32f4xx_hal.h"

namespace {

I2C_HandleTypeDef* lookup(int ch) {
    const bsp_i2c_t* bsp = bsp_i2c_get_handle(ch);
    return bsp == nullptr ? nullptr : bsp->i2c;
}

int result(HAL_StatusTypeDef status) {
    return status == HAL_OK ? 0 : -1;
}

int hal_i2c_init(int ch) {
    // The controller was set up at start-up; a channel without one is unusable.
    return lookup(ch) != nullptr ? 0 : -1;
}

int hal_i2c_mem_write(int ch, uint16_t dev_addr, uint16_t mem_addr, uint16_t mem_add_size,
                      const uint8_t* data, uint16_t size, uint32_t timeout) {
    I2C_HandleTypeDef* hi2c = lookup(ch);
    if (hi2c == nullptr || data == nullptr) {
        return -1;
    }
    // The HAL only reads the buffer of a write; its prototype is not const.
    return result(HAL_I2C_Mem_Write(hi2c, dev_addr, mem_addr, mem_add_size,
                                    const_cast<uint8_t*>(data), size, timeout));
}

int hal_i2c_mem_read(int ch, uint16_t dev_addr, uint16_t mem_addr, uint16_t mem_add_size,
                     uint8_t* data, uint16_t size, uint32_t timeout) {
    I2C_HandleTypeDef* hi2c = lookup(ch);
    if (hi2c == nullptr || data == nullptr) {
        return -1;
    }
    return result(HAL_I2C_Mem_Read(hi2c, dev_addr, mem_addr, mem_add_size, data, size, timeout));
}

int hal_i2c_write(int ch, uint16_t dev_addr, const uint8_t* data, uint16_t size, uint32_t timeout) {
    I2C_HandleTypeDef* hi2c = lookup(ch);
    if (hi2c == nullptr || data == nullptr) {
        return -1;
    }
    return result(
        HAL_I2C_Master_Transmit(hi2c, dev_addr, const_cast<uint8_t*>(data), size, timeout));
}

int hal_i2c_read(int ch, uint16_t dev_addr, uint8_t* data, uint16_t size, uint32_t timeout) {
    I2C_HandleTypeDef* hi2c = lookup(ch);
    if (hi2c == nullptr || data == nullptr) {
        return -1;
    }
    return result(HAL_I2C_Master_Receive(hi2c, dev_addr, data, size, timeout));
}

constexpr i2c_ops_t ops = {
    hal_i2c_init, hal_i2c_mem_write, hal_i2c_mem_read, hal_i2c_write, hal_i2c_read,
};

}  // namespace

void hal_i2c_init_all(void) {
    i2c_register_ops(&ops);
}
