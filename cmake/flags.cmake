# Flags as interface targets, linked by the targets that want them.

add_library(gimbal_strict_warnings INTERFACE)
target_compile_options(gimbal_strict_warnings INTERFACE
    -Wall -Wextra -Werror -Wshadow -Wundef -Wcast-qual)

# Firmware code generation, the same in both builds: no exceptions or RTTI, and
# no fused multiply-add so the host computes the same float bits as the chip.
add_library(gimbal_firmware_codegen INTERFACE)
target_compile_options(gimbal_firmware_codegen INTERFACE
    -ffp-contract=off -ffunction-sections -fdata-sections
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)

add_library(gimbal_sanitizers INTERFACE)
if(GIMBAL_SANITIZE)
    target_compile_options(gimbal_sanitizers INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(gimbal_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

# Coverage: only the firmware's layers are instrumented (gimbal_firmware_layer
# links this), at -Og so that lines map to code; the virtual board around
# them keeps its optimised build. Every executable links gcov's runtime.
add_library(gimbal_coverage INTERFACE)
if(GIMBAL_COVERAGE)
    target_compile_options(gimbal_coverage INTERFACE -Og --coverage)
    add_link_options(--coverage)
    # For the test harness's forked children, which leave by _exit.
    add_compile_definitions(GIMBAL_COVERAGE=1)
endif()
