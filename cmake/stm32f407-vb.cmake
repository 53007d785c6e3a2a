# The firmware's ARM image for the virtual board: its sources compiled exactly
# as for the chip (the toolchain file's flags, newlib nano, the chip's linker
# script and start-up file), linked with platform/vb in place of the chip
# maker's HAL and the kernel: every function of theirs the firmware calls is a
# stub that traps to the emulator (sim/arm), which serves it.

if(NOT CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR
        "GIMBAL_PLATFORM stm32f407-vb needs the arm-none-eabi toolchain: configure with the stm32f407-vb preset")
endif()

add_library(gimbal_platform_api INTERFACE)
target_include_directories(gimbal_platform_api INTERFACE
    ${CMAKE_SOURCE_DIR}/platform/include
    ${CMAKE_SOURCE_DIR}/platform/stm32f4/include
    ${CMAKE_SOURCE_DIR}/Core/Inc)
add_library(gimbal_firmware_backend INTERFACE)
# As the chip build: the same objects, stack-usage files beside them.
target_compile_options(gimbal_firmware_codegen INTERFACE -fstack-usage -fcallgraph-info=su)

gimbal_declare_firmware()

set(firmware_archives "")
foreach(layer IN LISTS GIMBAL_FIRMWARE_LAYERS)
    get_target_property(layer_type ${layer} TYPE)
    if(layer_type STREQUAL "STATIC_LIBRARY")
        list(PREPEND firmware_archives $<TARGET_FILE:${layer}>)
    endif()
endforeach()

set(GIMBAL_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/Core/STM32F407VGTX_FLASH.ld)
set(vb_dir ${CMAKE_SOURCE_DIR}/platform/vb)
add_executable(gimbal_vb ${CMAKE_SOURCE_DIR}/Core/Src/startup_stm32f407xx.s
    ${vb_dir}/bridges.S ${vb_dir}/hal_data.c ${vb_dir}/kernel_data.c ${vb_dir}/layouts.cpp)
target_include_directories(gimbal_vb PRIVATE ${vb_dir}
    ${CMAKE_SOURCE_DIR}/modules/control/pid ${CMAKE_SOURCE_DIR}/modules/device/motor)
target_link_libraries(gimbal_vb PRIVATE gimbal_strict_warnings gimbal_platform_api
    -Wl,--whole-archive ${firmware_archives} -Wl,--no-whole-archive)
foreach(layer IN LISTS GIMBAL_FIRMWARE_LAYERS)
    add_dependencies(gimbal_vb ${layer})
endforeach()
# -u _printf_float as the chip's image: newlib nano leaves out "%f" unless asked.
# The kernel's heap and the record layouts are the emulator's, nothing in the
# image refers to them.
target_link_options(gimbal_vb PRIVATE
    -T${GIMBAL_LINKER_SCRIPT} -u _printf_float -Wl,--undefined=ucHeap
    -Wl,--undefined=gimbal_vb_layouts -Wl,-Map=${CMAKE_BINARY_DIR}/gimbal_vb.map)
set_target_properties(gimbal_vb PROPERTIES
    SUFFIX .elf LINKER_LANGUAGE CXX
    LINK_DEPENDS "${GIMBAL_LINKER_SCRIPT};${vb_dir}/bridges.def;${vb_dir}/layouts.def")

# No platform function of the image unserved: every hal, hal-data and rtos
# line of the platform API list has its bridge.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_target(vb-bridges-check ALL
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/target/checks.py bridges
            ${CMAKE_SOURCE_DIR}/tools/target/platform-api.txt ${vb_dir}/bridges.def
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/target/platform-api.txt ${vb_dir}/bridges.def
    COMMENT "Virtual-board bridges against the platform API list"
    VERBATIM)
