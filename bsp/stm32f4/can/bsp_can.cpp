// CAN channel table.
#include "bsp_can.h"

#include <iterator>

#include "can.h"

namespace {
bsp_can_t cans[] = {
    {&hcan1},  // channel 0: CAN1, PD0/PD1, nothing attached
    {&hcan2},  // channel 1: CAN2, PB12/PB13, both motors
};
}  // namespace

bsp_can_t* bsp_can_get_handle(int ch) {
    if (ch < 0 || ch >= static_cast<int>(std::size(cans))) {
        return nullptr;
    }
    return &cans[ch];
}
