# Chip build: the firmware for the STM32F407 over platform/stm32f4.
#
# The chip maker's HAL and the RTOS kernel are not in this repository, so the
# image itself is not linked here. Every layer is compiled for the chip, the
# start-up file and the linker script are linked on their own
# (gimbal_link_check), and `footprint` prints the size of each layer.

if(NOT CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR
        "GIMBAL_PLATFORM stm32f407 needs the arm-none-eabi toolchain: configure with the stm32f407 preset")
endif()

add_library(gimbal_platform_api INTERFACE)
target_include_directories(gimbal_platform_api INTERFACE
    ${CMAKE_SOURCE_DIR}/platform/include
    ${CMAKE_SOURCE_DIR}/platform/stm32f4/include
    ${CMAKE_SOURCE_DIR}/Core/Inc)

# On the chip the firmware needs nothing beyond the API headers.
add_library(gimbal_firmware_backend INTERFACE)

gimbal_declare_firmware()

# Vector table and reset handler belong to the Core layer; the object library
# lets the link check use the same object.
add_library(gimbal_startup OBJECT ${CMAKE_SOURCE_DIR}/Core/Src/startup_stm32f407xx.s)
target_sources(fw_core PRIVATE $<TARGET_OBJECTS:gimbal_startup>)

set(GIMBAL_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/Core/STM32F407VGTX_FLASH.ld)

# Link check: start-up file, linker script, the runtime library and the Core
# layer's SystemInit and _sbrk, with a stand-in main (the real one needs the
# HAL and the kernel). Catches a vector table that is dropped or miscounted,
# a section symbol the start-up code or _sbrk expects but the script lacks,
# and a RAM layout that leaves no room for the minimum heap and stack.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/link_check/main.c CONTENT [[
/* Stand-in for the firmware's main in the start-up link check. */
int main(void) {
    for (;;) {
    }
}
]])
add_executable(gimbal_link_check
    ${CMAKE_BINARY_DIR}/link_check/main.c
    $<TARGET_OBJECTS:gimbal_startup>)
target_link_libraries(gimbal_link_check PRIVATE fw_core gimbal_strict_warnings)
target_link_options(gimbal_link_check PRIVATE
    -T${GIMBAL_LINKER_SCRIPT}
    -Wl,--undefined=_sbrk
    -Wl,-Map=$<TARGET_FILE_DIR:gimbal_link_check>/gimbal_link_check.map)
set_target_properties(gimbal_link_check PROPERTIES
    SUFFIX .elf
    LINK_DEPENDS ${GIMBAL_LINKER_SCRIPT})

# Footprint: text, data and bss of every object in each layer, with the
# layer's total. An upper bound: the final link drops unused sections.
set(footprint_commands "")
set(footprint_layers "")
foreach(layer IN LISTS GIMBAL_FIRMWARE_LAYERS)
    get_target_property(layer_type ${layer} TYPE)
    if(layer_type STREQUAL "STATIC_LIBRARY")
        list(APPEND footprint_commands
            COMMAND ${CMAKE_COMMAND} -E echo "== ${layer}"
            COMMAND ${CMAKE_SIZE} --totals $<TARGET_FILE:${layer}>)
        list(APPEND footprint_layers ${layer})
    endif()
endforeach()
add_custom_target(footprint
    ${footprint_commands}
    COMMAND ${CMAKE_COMMAND} -E echo "== start-up and runtime library alone (gimbal_link_check)"
    COMMAND ${CMAKE_SIZE} $<TARGET_FILE:gimbal_link_check>
    COMMENT "Section sizes of the firmware layers"
    VERBATIM)
add_dependencies(footprint ${footprint_layers} gimbal_link_check)
