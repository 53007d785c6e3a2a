# Fuzz build: clang's libFuzzer over single firmware units and the scenario
# reader, with AddressSanitizer and UndefinedBehaviorSanitizer. Each target
# links only what it fuzzes plus a small stand-in below it (fuzz/support),
# whose every answer comes from the fuzzer's input.

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz build needs clang (libFuzzer): use the fuzz preset")
endif()
find_package(nlohmann_json 3 REQUIRED)

add_library(gimbal_fuzz_flags INTERFACE)
target_compile_options(gimbal_fuzz_flags INTERFACE
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
target_link_options(gimbal_fuzz_flags INTERFACE -fsanitize=fuzzer,address,undefined)

# Firmware sources see the same API headers as in the virtual-board build,
# renames included; the register words and printf land in fuzz/support.
add_library(gimbal_fuzz_firmware_api INTERFACE)
target_include_directories(gimbal_fuzz_firmware_api INTERFACE
    ${CMAKE_SOURCE_DIR}/platform/include
    ${CMAKE_SOURCE_DIR}/platform/sim/include
    ${CMAKE_SOURCE_DIR}/Core/Inc
    ${CMAKE_SOURCE_DIR})
target_compile_options(gimbal_fuzz_firmware_api INTERFACE
    -include ${CMAKE_SOURCE_DIR}/platform/sim/include/gimbal_sim_firmware.h
    -ffp-contract=off -fno-exceptions -fno-rtti -Wall -Wextra -Werror)

add_subdirectory(fuzz)
