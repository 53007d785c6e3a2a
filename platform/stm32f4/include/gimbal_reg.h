// Register word on the chip: a volatile word at the peripheral's address.
#pragma once

#include <cstdint>

typedef volatile uint32_t gimbal_reg32_t;
typedef volatile uint32_t gimbal_cyccnt_t;
