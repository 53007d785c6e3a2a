/* The HAL's variables the firmware reaches by name, at their reset values. */
#include <stdint.h>

#define GIMBAL_BRIDGE(number, name)
#define GIMBAL_BRIDGE_DATA(type, name, reset) type name = (reset);
#define GIMBAL_BRIDGE_CALLBACK(bridge, name)
#include "bridges.def"
