# The test image for QEMU's mps2-an386 (Cortex-M4F, the chip's core and FPU):
# the vectors over the firmware layers as compiled for the chip, newlib nano
# with float printing as the firmware links it, the firmware's own _write and
# _sbrk, and this machine's own start-up and memory map.
set(image_dir ${CMAKE_CURRENT_SOURCE_DIR}/mps2_an386)
set(image_log ${CMAKE_BINARY_DIR}/target-test.log)

add_executable(gimbal_target_test ${suite_sources}
    ${image_dir}/image_main.cpp ${image_dir}/startup.c ${image_dir}/reent.c)
set_target_properties(gimbal_target_test PROPERTIES SUFFIX .elf)
target_include_directories(gimbal_target_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# The firmware's code generation, without its stack-usage files: the stack
# report reads those of the firmware alone.
target_compile_options(gimbal_target_test PRIVATE
    -ffp-contract=off -ffunction-sections -fdata-sections
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
target_link_libraries(gimbal_target_test PRIVATE
    gimbal_strict_warnings fw_app fw_modules fw_interfaces fw_core)
# _write and _sbrk come from the firmware's own runtime support (fw_core);
# newlib asks for them only after the archives were scanned.
target_link_options(gimbal_target_test PRIVATE
    -nostartfiles -T${image_dir}/mps2_an386.ld
    -Wl,--undefined=_printf_float -Wl,--undefined=_write -Wl,--undefined=_sbrk
    -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/gimbal_target_test.map)
set_target_properties(gimbal_target_test PROPERTIES LINK_DEPENDS ${image_dir}/mps2_an386.ld)

# Run under QEMU with a time limit; fails without the closing line or with a
# failure in it.
add_custom_command(OUTPUT ${image_log}
    COMMAND ${CMAKE_SOURCE_DIR}/tools/target/run-qemu $<TARGET_FILE:gimbal_target_test> ${image_log}
    DEPENDS gimbal_target_test ${CMAKE_SOURCE_DIR}/tools/target/run-qemu
    COMMENT "Firmware vectors and stack measurement on an emulated Cortex-M4 (QEMU mps2-an386)"
    VERBATIM)
add_custom_target(target-test ALL DEPENDS ${image_log})
