# Chip build: the firmware for the STM32F407.
#
# Without the chip maker's HAL and the RTOS kernel (not in this repository)
# every layer is compiled against our own API headers (platform/include) and
# checked: platform API symbols, footprint, stack report and a link over
# stand-ins (target-checks). Given both by path, the firmware is compiled
# against the real headers and linked with them into gimbal.elf, .bin, .hex
# and .map.

if(NOT CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR
        "GIMBAL_PLATFORM stm32f407 needs the arm-none-eabi toolchain: configure with the stm32f407 preset")
endif()

set(GIMBAL_STM32_HAL_DIR "" CACHE PATH
    "STM32CubeF4 'Drivers' directory (STM32F4xx_HAL_Driver, CMSIS): build the flashable gimbal.elf")
set(GIMBAL_FREERTOS_DIR "" CACHE PATH
    "FreeRTOS 'Source' directory (kernel, portable, CMSIS_RTOS_V2): build the flashable gimbal.elf")
if(GIMBAL_STM32_HAL_DIR AND GIMBAL_FREERTOS_DIR)
    set(GIMBAL_FULL_IMAGE ON)
elseif(GIMBAL_STM32_HAL_DIR OR GIMBAL_FREERTOS_DIR)
    message(FATAL_ERROR "GIMBAL_STM32_HAL_DIR and GIMBAL_FREERTOS_DIR go together: give both or neither")
else()
    set(GIMBAL_FULL_IMAGE OFF)
endif()

add_library(gimbal_platform_api INTERFACE)
if(GIMBAL_FULL_IMAGE)
    set(GIMBAL_HAL_INCLUDES
        ${GIMBAL_STM32_HAL_DIR}/STM32F4xx_HAL_Driver/Inc
        ${GIMBAL_STM32_HAL_DIR}/CMSIS/Device/ST/STM32F4xx/Include
        ${GIMBAL_STM32_HAL_DIR}/CMSIS/Include
        ${GIMBAL_FREERTOS_DIR}/include
        ${GIMBAL_FREERTOS_DIR}/CMSIS_RTOS_V2
        ${GIMBAL_FREERTOS_DIR}/portable/GCC/ARM_CM4F)
    foreach(dir IN LISTS GIMBAL_HAL_INCLUDES)
        if(NOT IS_DIRECTORY ${dir})
            message(FATAL_ERROR "Not found: ${dir} (check GIMBAL_STM32_HAL_DIR and GIMBAL_FREERTOS_DIR)")
        endif()
    endforeach()
    target_include_directories(gimbal_platform_api INTERFACE
        ${CMAKE_SOURCE_DIR}/Core/Inc ${GIMBAL_HAL_INCLUDES})
    target_compile_definitions(gimbal_platform_api INTERFACE STM32F407xx USE_HAL_DRIVER)
else()
    target_include_directories(gimbal_platform_api INTERFACE
        ${CMAKE_SOURCE_DIR}/platform/include
        ${CMAKE_SOURCE_DIR}/platform/stm32f4/include
        ${CMAKE_SOURCE_DIR}/Core/Inc)
endif()

# On the chip the firmware needs nothing beyond the API headers.
add_library(gimbal_firmware_backend INTERFACE)

# Stack use per function (.su) and the call graph with it (.ci), next to each
# object, for the worst-case stack report.
target_compile_options(gimbal_firmware_codegen INTERFACE -fstack-usage -fcallgraph-info=su)

gimbal_declare_firmware()

# Vector table and reset handler: one object, linked into the image, the
# image check and the relocatable firmware object.
add_library(gimbal_startup OBJECT ${CMAKE_SOURCE_DIR}/Core/Src/startup_stm32f407xx.s)

set(GIMBAL_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/Core/STM32F407VGTX_FLASH.ld)
set(GIMBAL_PLATFORM_API_LIST ${CMAKE_SOURCE_DIR}/tools/target/platform-api.txt)
set(GIMBAL_CHECKS ${CMAKE_SOURCE_DIR}/tools/target/checks.py)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Every firmware layer that has code, lowest last, and its archive.
set(firmware_libs "")
set(firmware_archives "")
set(footprint_args "")
foreach(layer IN LISTS GIMBAL_FIRMWARE_LAYERS)
    get_target_property(layer_type ${layer} TYPE)
    if(layer_type STREQUAL "STATIC_LIBRARY")
        list(PREPEND firmware_libs ${layer})
        list(PREPEND firmware_archives $<TARGET_FILE:${layer}>)
        list(APPEND footprint_args ${layer}=$<TARGET_FILE:${layer}>)
    endif()
endforeach()
# Whole archives: the vector table's weak names must not keep a handler's
# object out of the image; the final link's --gc-sections drops what is unused.
set(firmware_whole -Wl,--whole-archive ${firmware_archives} -Wl,--no-whole-archive)

# Symbol check: all firmware objects linked into one relocatable object, whose
# undefined symbols must be exactly the platform API list.
set(firmware_relocatable ${CMAKE_BINARY_DIR}/firmware-relocatable.o)
add_custom_command(OUTPUT ${firmware_relocatable}
    COMMAND ${CMAKE_C_COMPILER} -r -nostdlib -o ${firmware_relocatable}
            $<TARGET_OBJECTS:gimbal_startup>
            -Wl,--whole-archive ${firmware_archives} -Wl,--no-whole-archive
    DEPENDS ${firmware_libs} gimbal_startup $<TARGET_OBJECTS:gimbal_startup>
    COMMENT "Relocatable link of all firmware objects"
    VERBATIM)

# Image check: the firmware with the start-up file, the vector table and the
# linker script, over stand-ins generated from the platform API list, so that
# the real main, handlers and runtime support are laid out as on the chip.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/image_check/standins.c
    COMMAND ${Python3_EXECUTABLE} ${GIMBAL_CHECKS} standins ${GIMBAL_PLATFORM_API_LIST}
            ${CMAKE_BINARY_DIR}/image_check/standins.c
    DEPENDS ${GIMBAL_PLATFORM_API_LIST} ${GIMBAL_CHECKS}
    COMMENT "Stand-in platform for the image check"
    VERBATIM)
add_executable(gimbal_image_check ${CMAKE_BINARY_DIR}/image_check/standins.c
    $<TARGET_OBJECTS:gimbal_startup>)
target_link_libraries(gimbal_image_check PRIVATE ${firmware_whole})
add_dependencies(gimbal_image_check ${firmware_libs})
target_link_options(gimbal_image_check PRIVATE
    -T${GIMBAL_LINKER_SCRIPT}
    -Wl,-Map=$<TARGET_FILE_DIR:gimbal_image_check>/gimbal_image_check.map)
set_target_properties(gimbal_image_check PROPERTIES
    SUFFIX .elf
    LINK_DEPENDS "${GIMBAL_LINKER_SCRIPT};${firmware_archives}")

# Run by every build of this preset (and so by tools/test): the symbol check,
# the footprint, no fused multiply-add in the firmware, the stack report (with
# the emulator's measurements) and the image check. Any failure fails the
# build.
string(REGEX REPLACE "gcc$" "" GIMBAL_TOOL_PREFIX "${CMAKE_C_COMPILER}")

# The control law compiled as GCC would by default (contracting a * b + c):
# the no-fused-multiply-add check must find them there, or it checks nothing.
set(fma_probe ${CMAKE_BINARY_DIR}/fma-probe/pid-contracted.o)
separate_arguments(cpu_flags UNIX_COMMAND "${GIMBAL_CPU_FLAGS}")
separate_arguments(libc_flags UNIX_COMMAND "${GIMBAL_LIBC_FLAGS}")
add_custom_command(OUTPUT ${fma_probe}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/fma-probe
    COMMAND ${CMAKE_CXX_COMPILER} ${cpu_flags} ${libc_flags} -std=c++20 -Os -ffp-contract=fast
            -c ${CMAKE_SOURCE_DIR}/modules/control/pid/pid.cpp -o ${fma_probe}
    DEPENDS ${CMAKE_SOURCE_DIR}/modules/control/pid/pid.cpp
    COMMENT "Control law with contraction, for the fused multiply-add check"
    VERBATIM)

# The runtime library's per-thread record as this build compiles it (C and
# C++), and as the full headers lay it out: the newlib check compares the
# former with the linked library's and must see the latter differ.
add_library(gimbal_newlib_probe OBJECT
    ${CMAKE_SOURCE_DIR}/tools/target/newlib-probe.c ${CMAKE_SOURCE_DIR}/tools/target/newlib-probe.cpp)
set(newlib_full_probe ${CMAKE_BINARY_DIR}/newlib-probe/full-headers.o)
add_custom_command(OUTPUT ${newlib_full_probe}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/newlib-probe
    COMMAND ${CMAKE_C_COMPILER} ${cpu_flags} -c ${CMAKE_SOURCE_DIR}/tools/target/newlib-probe.c
            -o ${newlib_full_probe}
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/target/newlib-probe.c
    COMMENT "Runtime-library record with the full newlib headers, for the newlib check"
    VERBATIM)
set(GIMBAL_KERNEL_MODEL ${CMAKE_SOURCE_DIR}/platform/sim/src/kernel.hpp)

# Without the HAL and kernel: the vectors on an emulated Cortex-M4 (QEMU),
# whose runtime-library stack figures the stack report uses.
set(stack_measured "")
if(NOT GIMBAL_FULL_IMAGE)
    add_subdirectory(tests/target)
    set(stack_measured --measured ${CMAKE_BINARY_DIR}/target-test.log)
    set(newlib_test_image $<TARGET_FILE:gimbal_target_test>)
else()
    set(newlib_test_image "")
endif()
if(GIMBAL_FULL_IMAGE)
    set(target_checks_all "")
else()
    set(target_checks_all ALL)
endif()
add_custom_target(target-checks ${target_checks_all}
    COMMAND ${Python3_EXECUTABLE} ${GIMBAL_CHECKS} api ${GIMBAL_TOOL_PREFIX}nm
            ${firmware_relocatable} ${GIMBAL_PLATFORM_API_LIST}
    COMMAND ${Python3_EXECUTABLE} ${GIMBAL_CHECKS} footprint ${CMAKE_SIZE} ${footprint_args}
            startup=$<TARGET_OBJECTS:gimbal_startup>
    COMMAND ${Python3_EXECUTABLE} ${GIMBAL_CHECKS} nofma ${GIMBAL_TOOL_PREFIX}objdump
            ${fma_probe} ${firmware_archives}
    COMMAND ${Python3_EXECUTABLE} ${GIMBAL_CHECKS} newlib ${GIMBAL_TOOL_PREFIX}nm
            ${newlib_full_probe} ${GIMBAL_KERNEL_MODEL} $<TARGET_OBJECTS:gimbal_newlib_probe>
            $<TARGET_FILE:gimbal_image_check> ${newlib_test_image}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/target/stack-report.py
            ${stack_measured} ${CMAKE_BINARY_DIR}
    COMMAND ${CMAKE_COMMAND} -E echo "== image check (firmware over stand-ins: gimbal_image_check.elf)"
    COMMAND ${Python3_EXECUTABLE} ${GIMBAL_CHECKS} image ${GIMBAL_TOOL_PREFIX}
            $<TARGET_FILE:gimbal_image_check>
    COMMAND ${CMAKE_SIZE} $<TARGET_FILE:gimbal_image_check>
    DEPENDS ${firmware_relocatable} gimbal_image_check ${fma_probe} ${newlib_full_probe}
            gimbal_newlib_probe $<TARGET_OBJECTS:gimbal_newlib_probe> ${GIMBAL_KERNEL_MODEL}
    COMMENT "Chip checks: platform API, footprint, no fused multiply-add, newlib, stack report, image"
    VERBATIM COMMAND_EXPAND_LISTS)

# The flashable image, from the chip maker's HAL and the kernel given by path.
# Their sources are theirs: compiled without our warning flags.
if(GIMBAL_FULL_IMAGE)
    file(GLOB hal_sources ${GIMBAL_STM32_HAL_DIR}/STM32F4xx_HAL_Driver/Src/stm32f4xx_hal*.c)
    list(FILTER hal_sources EXCLUDE REGEX "_template\\.c$")
    add_library(stm32_hal STATIC ${hal_sources})
    target_link_libraries(stm32_hal PUBLIC gimbal_platform_api)

    file(GLOB rtos_sources
        ${GIMBAL_FREERTOS_DIR}/*.c
        ${GIMBAL_FREERTOS_DIR}/CMSIS_RTOS_V2/*.c
        ${GIMBAL_FREERTOS_DIR}/portable/GCC/ARM_CM4F/port.c
        ${GIMBAL_FREERTOS_DIR}/portable/MemMang/heap_4.c)
    add_library(freertos STATIC ${rtos_sources})
    target_link_libraries(freertos PUBLIC gimbal_platform_api)

    add_executable(gimbal $<TARGET_OBJECTS:gimbal_startup>)
    set_target_properties(gimbal PROPERTIES LINKER_LANGUAGE CXX)
    target_link_libraries(gimbal PRIVATE ${firmware_whole} freertos stm32_hal)
    add_dependencies(gimbal ${firmware_libs})
    # -u _printf_float: newlib nano leaves out "%f" unless asked; the
    # firmware prints floats.
    target_link_options(gimbal PRIVATE
        -T${GIMBAL_LINKER_SCRIPT} -u _printf_float
        -Wl,-Map=${CMAKE_BINARY_DIR}/gimbal.map)
    set_target_properties(gimbal PROPERTIES
        SUFFIX .elf
        LINK_DEPENDS "${GIMBAL_LINKER_SCRIPT};${firmware_archives}")
    add_custom_target(newlib-probes DEPENDS ${newlib_full_probe})
    add_dependencies(gimbal newlib-probes gimbal_newlib_probe)
    add_custom_command(TARGET gimbal POST_BUILD
        COMMAND ${Python3_EXECUTABLE} ${GIMBAL_CHECKS} newlib ${GIMBAL_TOOL_PREFIX}nm
                ${newlib_full_probe} ${GIMBAL_KERNEL_MODEL} $<TARGET_OBJECTS:gimbal_newlib_probe>
                $<TARGET_FILE:gimbal>
        COMMAND ${CMAKE_OBJCOPY} -O binary $<TARGET_FILE:gimbal> ${CMAKE_BINARY_DIR}/gimbal.bin
        COMMAND ${CMAKE_OBJCOPY} -O ihex $<TARGET_FILE:gimbal> ${CMAKE_BINARY_DIR}/gimbal.hex
        COMMAND ${CMAKE_SIZE} $<TARGET_FILE:gimbal>
        VERBATIM COMMAND_EXPAND_LISTS)
endif()

if(NOT GIMBAL_FULL_IMAGE)
    add_dependencies(target-checks target-test)
endif()
