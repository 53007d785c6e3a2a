// Bit-banged I2C port of the STM32F4 board: an I2C master on two open-drain GPIO pins,
// timed by the DWT cycle counter.
//
// Two families share the engine below. The message-level transactions (write, read,
// mem_write, mem_read) wait for clock stretching within one deadline per transaction and
// free a bus held busy at START. The byte-level frame operations drive the pins with fixed
// delays for callers that compose transfers themselves.
#include "hal_soft_i2c.h"

#include <cstdint>
#include <cstdio>

#include "bsp_soft_i2c.h"
#include "soft_i2c_if.h"
#include "stm32f4xx_hal.h"

#define SOFT_I2C_HALF_PERIOD_US 5U
#define SOFT_I2C_DEFAULT_TIMEOUT_MS 1000U
#define SOFT_I2C_DEBUG_ENABLE 1

#if SOFT_I2C_DEBUG_ENABLE
#define SOFT_I2C_DEBUG(...) printf(__VA_ARGS__)
#else
#define SOFT_I2C_DEBUG(...) ((void)0)
#endif

namespace {

// ------------------------------------------------------------------ engine state

int dwt_initialized = 0;
uint32_t txn_timeout_start = 0;
uint32_t txn_timeout_ticks = 0;  // 0: no deadline armed

// ------------------------------------------------------------------ pin access

void gpio_set(GPIO_TypeDef* port, uint16_t pin) {
    port->BSRR = pin;
}

void gpio_reset(GPIO_TypeDef* port, uint16_t pin) {
    port->BSRR = static_cast<uint32_t>(pin) << 16U;
}

// IDR shows the real level of an open-drain output too: no mode change to sample.
GPIO_PinState gpio_read(GPIO_TypeDef* port, uint16_t pin) {
    return (port->IDR & pin) != 0U ? GPIO_PIN_SET : GPIO_PIN_RESET;
}

void scl_high(bsp_soft_i2c_t* bus) {
    gpio_set(bus->scl_port, bus->scl_pin);
}

void scl_low(bsp_soft_i2c_t* bus) {
    gpio_reset(bus->scl_port, bus->scl_pin);
}

int scl_read(bsp_soft_i2c_t* bus) {
    return gpio_read(bus->scl_port, bus->scl_pin) == GPIO_PIN_SET ? 1 : 0;
}

void sda_release(bsp_soft_i2c_t* bus) {
    gpio_set(bus->sda_port, bus->sda_pin);
}

void sda_low(bsp_soft_i2c_t* bus) {
    gpio_reset(bus->sda_port, bus->sda_pin);
}

int sda_read(bsp_soft_i2c_t* bus) {
    return gpio_read(bus->sda_port, bus->sda_pin) == GPIO_PIN_SET ? 1 : 0;
}

uint32_t __pin_pos(uint16_t pin_mask) {
    return __CLZ(__RBIT(pin_mask));
}

void sda_mode(bsp_soft_i2c_t* bus, uint32_t mode) {
    const uint32_t pos = __pin_pos(bus->sda_pin);
    if (pos >= 16U) {
        return;  // no pin in the mask: no field to change
    }
    const uint32_t shift = 2U * pos;
    // One read and one write: the pin never passes through another mode.
    uint32_t moder = bus->sda_port->MODER;
    moder &= ~(3U << shift);
    moder |= mode << shift;
    bus->sda_port->MODER = moder;
}

// Output type, pull and speed stay: on this board SDA remains open-drain with pull-up.
void sda_out(bsp_soft_i2c_t* bus) {
    sda_mode(bus, 1U);
}

void sda_in(bsp_soft_i2c_t* bus) {
    sda_mode(bus, 0U);
}

// ------------------------------------------------------------------ time base

void dwt_init(void) {
    if (dwt_initialized != 0) {
        return;
    }
    CoreDebug->DEMCR |= CoreDebug_DEMCR_TRCENA_Msk;
    DWT->CYCCNT = 0U;
    DWT->CTRL |= DWT_CTRL_CYCCNTENA_Msk;
    dwt_initialized = 1;
}

// Unsigned differences: a wrap of CYCCNT during the wait does no harm.
void delay_us(uint32_t us) {
    const uint32_t start = DWT->CYCCNT;
    const uint32_t ticks = us * (SystemCoreClock / 1000000U);
    while (DWT->CYCCNT - start < ticks) {
    }
}

void i2c_delay(void) {
    delay_us(SOFT_I2C_HALF_PERIOD_US);
}

void txn_timeout_set(uint32_t timeout_ms) {
    if (timeout_ms == 0U) {
        timeout_ms = SOFT_I2C_DEFAULT_TIMEOUT_MS;
    }
    if (timeout_ms > 25000U) {
        timeout_ms = 25000U;  // 4.2e9 cycles at 168 MHz: still below one turn of CYCCNT
    }
    txn_timeout_start = DWT->CYCCNT;
    txn_timeout_ticks = (SystemCoreClock / 1000U) * timeout_ms;
}

int txn_timeout_expired(void) {
    if (txn_timeout_ticks == 0U) {
        return 0;
    }
    return (DWT->CYCCNT - txn_timeout_start) >= txn_timeout_ticks ? 1 : 0;
}

// ------------------------------------------------------------------ bus primitives

// The level is sampled before the deadline is looked at, so a line that is high passes
// even after the deadline.
int scl_wait_high(bsp_soft_i2c_t* bus) {
    scl_high(bus);
    for (;;) {
        if (scl_read(bus) == 1) {
            return 0;
        }
        if (txn_timeout_expired() == 1) {
            SOFT_I2C_DEBUG("[i2c] scl_wait_high timeout port=0x%08x pin=0x%04x\r\n",
                           static_cast<unsigned>(reinterpret_cast<uintptr_t>(bus->scl_port)),
                           static_cast<unsigned>(bus->scl_pin));
            return -1;
        }
    }
}

// Nine clocks free a slave cut off in the middle of a byte; START then STOP resets the rest.
void i2c_bus_recovery(bsp_soft_i2c_t* bus) {
    sda_release(bus);
    for (int i = 0; i < 9; i++) {
        scl_low(bus);
        i2c_delay();
        scl_high(bus);
        i2c_delay();
    }
    sda_low(bus);
    i2c_delay();
    scl_high(bus);
    i2c_delay();
    sda_release(bus);
    i2c_delay();
}

int i2c_start(bsp_soft_i2c_t* bus) {
    sda_release(bus);
    if (scl_wait_high(bus) == -1) {
        SOFT_I2C_DEBUG("[i2c] START: scl_wait_high timeout\r\n");
        return -1;
    }
    i2c_delay();
    if (sda_read(bus) == 0) {
        SOFT_I2C_DEBUG("[i2c] START: bus busy, trying recovery\r\n");
        i2c_bus_recovery(bus);
        if (sda_read(bus) == 0) {
            SOFT_I2C_DEBUG("[i2c] START: bus busy after recovery\r\n");
            return -1;
        }
    }
    sda_low(bus);
    i2c_delay();
    scl_low(bus);
    i2c_delay();
    return 0;
}

int i2c_rep_start(bsp_soft_i2c_t* bus) {
    sda_release(bus);
    if (scl_wait_high(bus) == -1) {
        return -1;
    }
    i2c_delay();
    sda_low(bus);
    i2c_delay();
    scl_low(bus);
    i2c_delay();
    return 0;
}

void i2c_stop(bsp_soft_i2c_t* bus) {
    sda_low(bus);
    i2c_delay();
    scl_high(bus);
    i2c_delay();
    sda_release(bus);
    i2c_delay();
}

int i2c_write_byte(bsp_soft_i2c_t* bus, uint8_t data) {
    for (int bit = 7; bit >= 0; bit--) {
        if ((data >> bit) & 1U) {
            sda_release(bus);
        } else {
            sda_low(bus);
        }
        i2c_delay();
        if (scl_wait_high(bus) == -1) {
            return -1;
        }
        i2c_delay();
        scl_low(bus);
        i2c_delay();
    }
    sda_release(bus);
    i2c_delay();
    if (scl_wait_high(bus) == -1) {
        return -1;
    }
    i2c_delay();
    const int ack = sda_read(bus);
    scl_low(bus);
    i2c_delay();
    return ack == 0 ? 0 : -1;
}

// `nack` non-zero ends the read with NACK (last byte), 0 with ACK.
int i2c_read_byte(bsp_soft_i2c_t* bus, int nack, uint8_t* out) {
    sda_release(bus);
    uint8_t value = 0;
    for (int i = 0; i < 8; i++) {
        value = static_cast<uint8_t>(value << 1);
        if (scl_wait_high(bus) == -1) {
            return -1;
        }
        i2c_delay();
        if (sda_read(bus) == 1) {
            value = static_cast<uint8_t>(value | 1U);
        }
        scl_low(bus);
        i2c_delay();
    }
    if (nack != 0) {
        sda_release(bus);
    } else {
        sda_low(bus);
    }
    i2c_delay();
    scl_high(bus);
    i2c_delay();
    scl_low(bus);
    i2c_delay();
    sda_release(bus);
    *out = value;
    return 0;
}

// ------------------------------------------------------------------ operations

int hal_soft_i2c_init(int ch) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr) {
        return -1;
    }
    dwt_init();  // before SDA is judged: later delays need the counter whatever the outcome
    sda_release(bus);
    scl_high(bus);
    i2c_delay();
    if (sda_read(bus) == 1) {
        return 0;
    }
    i2c_bus_recovery(bus);
    return sda_read(bus) == 1 ? 0 : -1;
}

int hal_soft_i2c_write(int ch, uint16_t dev_addr, const uint8_t* data, uint16_t size,
                       uint32_t timeout) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr || data == nullptr || size == 0U) {
        return -1;
    }
    txn_timeout_set(timeout);
    if (i2c_start(bus) != 0) {
        return -1;
    }
    if (i2c_write_byte(bus, static_cast<uint8_t>(dev_addr & 0xFEU)) != 0) {
        i2c_stop(bus);
        return -1;
    }
    for (uint16_t i = 0; i < size; i++) {
        if (i2c_write_byte(bus, data[i]) != 0) {
            i2c_stop(bus);
            return -1;
        }
    }
    i2c_stop(bus);
    return 0;
}

int hal_soft_i2c_read(int ch, uint16_t dev_addr, uint8_t* data, uint16_t size, uint32_t timeout) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr || data == nullptr || size == 0U) {
        return -1;
    }
    txn_timeout_set(timeout);
    if (i2c_start(bus) != 0) {
        return -1;
    }
    if (i2c_write_byte(bus, static_cast<uint8_t>((dev_addr & 0xFFU) | 0x01U)) != 0) {
        i2c_stop(bus);
        return -1;
    }
    for (uint16_t i = 0; i < size; i++) {
        if (i2c_read_byte(bus, i == size - 1U ? 1 : 0, &data[i]) != 0) {
            i2c_stop(bus);
            return -1;
        }
    }
    i2c_stop(bus);
    return 0;
}

int hal_soft_i2c_mem_write(int ch, uint16_t dev_addr, uint16_t mem_addr, uint16_t mem_addr_size,
                           const uint8_t* data, uint16_t size, uint32_t timeout) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr || data == nullptr) {
        return -1;
    }
    txn_timeout_set(timeout);
    if (i2c_start(bus) != 0) {
        return -1;
    }
    bool ok = i2c_write_byte(bus, static_cast<uint8_t>(dev_addr & 0xFEU)) == 0;
    if (ok && mem_addr_size == 2U) {
        ok = i2c_write_byte(bus, static_cast<uint8_t>(mem_addr >> 8)) == 0;
    }
    if (ok) {
        ok = i2c_write_byte(bus, static_cast<uint8_t>(mem_addr & 0xFFU)) == 0;
    }
    for (uint16_t i = 0; ok && i < size; i++) {
        ok = i2c_write_byte(bus, data[i]) == 0;
    }
    i2c_stop(bus);
    return ok ? 0 : -1;
}

// The register read; the only operation that reports its failures on the console.
int hal_soft_i2c_mem_read(int ch, uint16_t dev_addr, uint16_t mem_addr, uint16_t mem_addr_size,
                          uint8_t* data, uint16_t size, uint32_t timeout) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr || data == nullptr) {
        return -1;
    }
    txn_timeout_set(timeout);
    if (i2c_start(bus) != 0) {
        printf("[mem_read] i2c_start failed\r\n");
        return -1;
    }
    if (i2c_write_byte(bus, static_cast<uint8_t>(dev_addr & 0xFEU)) != 0) {
        printf("[mem_read] NACK at addr_write dev_addr=%u (bus=0x%02x)\r\n",
               static_cast<unsigned>(dev_addr), static_cast<unsigned>(dev_addr & 0xFEU));
        i2c_stop(bus);
        return -1;
    }
    if (mem_addr_size == 2U && i2c_write_byte(bus, static_cast<uint8_t>(mem_addr >> 8)) != 0) {
        i2c_stop(bus);
        return -1;
    }
    if (i2c_write_byte(bus, static_cast<uint8_t>(mem_addr & 0xFFU)) != 0) {
        printf("[mem_read] NACK at reg_addr_write reg=0x%02x\r\n",
               static_cast<unsigned>(mem_addr & 0xFFU));
        i2c_stop(bus);
        return -1;
    }
    if (i2c_rep_start(bus) != 0) {
        printf("[mem_read] restart failed\r\n");
        i2c_stop(bus);
        return -1;
    }
    if (i2c_write_byte(bus, static_cast<uint8_t>((dev_addr & 0xFFU) | 0x01U)) != 0) {
        printf("[mem_read] NACK at addr_read dev_addr=%u (bus=0x%02x)\r\n",
               static_cast<unsigned>(dev_addr), static_cast<unsigned>(dev_addr | 0x01U));
        i2c_stop(bus);
        return -1;
    }
    for (uint16_t i = 0; i < size; i++) {
        if (i2c_read_byte(bus, i == size - 1U ? 1 : 0, &data[i]) != 0) {
            printf("[mem_read] i2c_read_byte timeout byte=%u\r\n", static_cast<unsigned>(i));
            i2c_stop(bus);
            return -1;
        }
    }
    i2c_stop(bus);
    return 0;
}

// Frame operations: fixed delays, no clock-stretch wait, no transaction deadline.

int hal_soft_i2c_start_frame(int ch) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr) {
        return -1;
    }
    sda_out(bus);
    gpio_set(bus->sda_port, bus->sda_pin);
    gpio_set(bus->scl_port, bus->scl_pin);
    delay_us(5);
    gpio_reset(bus->sda_port, bus->sda_pin);
    delay_us(5);
    gpio_reset(bus->scl_port, bus->scl_pin);
    return 0;
}

int hal_soft_i2c_send_frame(int ch, uint8_t byte) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr) {
        return -1;
    }
    sda_out(bus);
    gpio_reset(bus->scl_port, bus->scl_pin);
    for (int bit = 7; bit >= 0; bit--) {
        if ((byte >> bit) & 1U) {
            gpio_set(bus->sda_port, bus->sda_pin);
        } else {
            gpio_reset(bus->sda_port, bus->sda_pin);
        }
        delay_us(2);
        gpio_set(bus->scl_port, bus->scl_pin);
        delay_us(5);
        gpio_reset(bus->scl_port, bus->scl_pin);
        delay_us(3);
    }
    return 0;
}

int hal_soft_i2c_wait_ack_frame(int ch) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr) {
        return -1;
    }
    dwt_init();
    sda_in(bus);
    gpio_set(bus->sda_port, bus->sda_pin);
    delay_us(1);
    gpio_set(bus->scl_port, bus->scl_pin);
    delay_us(3);
    const uint32_t start = DWT->CYCCNT;
    const uint32_t limit = SystemCoreClock / 100U;  // 10 ms
    while (gpio_read(bus->sda_port, bus->sda_pin) == GPIO_PIN_SET) {
        if (DWT->CYCCNT - start > limit) {
            gpio_reset(bus->scl_port, bus->scl_pin);
            return -2;
        }
    }
    delay_us(2);
    gpio_reset(bus->scl_port, bus->scl_pin);
    return 0;
}

int hal_soft_i2c_stop_frame(int ch) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr) {
        return -1;
    }
    gpio_reset(bus->scl_port, bus->scl_pin);
    sda_out(bus);
    gpio_reset(bus->sda_port, bus->sda_pin);
    delay_us(5);
    gpio_set(bus->scl_port, bus->scl_pin);
    gpio_set(bus->sda_port, bus->sda_pin);
    delay_us(5);
    return 0;
}

// `ack` non-zero sends ACK (SDA low), 0 sends NACK.
int hal_soft_i2c_send_ack_frame(int ch, int ack) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr) {
        return -1;
    }
    sda_out(bus);
    gpio_reset(bus->scl_port, bus->scl_pin);
    if (ack != 0) {
        gpio_reset(bus->sda_port, bus->sda_pin);
    } else {
        gpio_set(bus->sda_port, bus->sda_pin);
    }
    delay_us(5);
    gpio_set(bus->scl_port, bus->scl_pin);
    delay_us(5);
    gpio_reset(bus->scl_port, bus->scl_pin);
    return 0;
}

int hal_soft_i2c_read_frame(int ch, int ack) {
    bsp_soft_i2c_t* bus = bsp_soft_i2c_get_handle(ch);
    if (bus == nullptr) {
        return -1;
    }
    sda_in(bus);
    gpio_set(bus->sda_port, bus->sda_pin);
    int value = 0;
    for (int i = 0; i < 8; i++) {
        gpio_reset(bus->scl_port, bus->scl_pin);
        delay_us(5);
        gpio_set(bus->scl_port, bus->scl_pin);
        delay_us(10);
        value = (value << 1) | (gpio_read(bus->sda_port, bus->sda_pin) == GPIO_PIN_SET ? 1 : 0);
    }
    hal_soft_i2c_send_ack_frame(ch, ack);
    return value;
}

constexpr soft_i2c_ops_t ops = {
    hal_soft_i2c_init,       hal_soft_i2c_mem_write,      hal_soft_i2c_mem_read,
    hal_soft_i2c_write,      hal_soft_i2c_read,           hal_soft_i2c_start_frame,
    hal_soft_i2c_send_frame, hal_soft_i2c_wait_ack_frame, hal_soft_i2c_stop_frame,
    hal_soft_i2c_read_frame, hal_soft_i2c_send_ack_frame,
};

}  // namespace

void hal_soft_i2c_init_all(void) {
    soft_i2c_register_ops(&ops);
}
