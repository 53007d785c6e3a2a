# Virtual board build: the firmware on the host, over platform/sim and sim/.

# Position-independent code throughout: the linker-script symbols are absolute
# chip addresses, which a PIE executable reaches only through its GOT.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# Debug information in every configuration, for gdb and its thread commands
# (tools/gdb): it changes no generated code, so the optimised run is as fast.
add_compile_options(-g)

find_package(Boost 1.74 REQUIRED COMPONENTS context)
find_package(nlohmann_json 3 REQUIRED)
find_package(CLI11 REQUIRED)
find_package(GTest REQUIRED)

add_library(gimbal_platform_api INTERFACE)
target_include_directories(gimbal_platform_api INTERFACE
    ${CMAKE_SOURCE_DIR}/platform/include
    ${CMAKE_SOURCE_DIR}/platform/sim/include
    ${CMAKE_SOURCE_DIR}/Core/Inc)

# Firmware sources see the runtime library through the virtual board's
# stand-in: standard output, the system calls and main are renamed so that
# they cannot clash with the host's C library.
add_library(gimbal_firmware_backend INTERFACE)
target_compile_options(gimbal_firmware_backend INTERFACE
    -include ${CMAKE_SOURCE_DIR}/platform/sim/include/gimbal_sim_firmware.h)
target_link_libraries(gimbal_firmware_backend INTERFACE gimbal_sanitizers)

gimbal_declare_firmware()

# Every object of every firmware layer, as the chip's image has them: the
# handlers and callbacks are reached only by name (weakly) from the platform,
# so archive members would never be pulled in.
add_library(gimbal_firmware INTERFACE)
foreach(layer IN LISTS GIMBAL_FIRMWARE_LAYERS)
    get_target_property(layer_type ${layer} TYPE)
    if(layer_type STREQUAL "STATIC_LIBRARY")
        target_sources(gimbal_firmware INTERFACE $<TARGET_OBJECTS:${layer}>)
        add_dependencies(gimbal_firmware ${layer})
    endif()
endforeach()
target_link_libraries(gimbal_firmware INTERFACE gimbal_platform_api)
# What-if gains and the probes of the controller steps and motor exchanges:
# the virtual board wraps these firmware functions
# (platform/sim/src/firmware_hooks.cpp), so the firmware's own sources and
# the chip build stay as they are. --wrap reaches calls between objects only.
target_link_options(gimbal_firmware INTERFACE
    "LINKER:--wrap=_Z21PIDController_ComputeP15PIDController_tff"
    "LINKER:--wrap=_Z18mf4010v2_set_speedP10mf4010v2_ti"
    "LINKER:--wrap=_Z12mf4010v2_runP10mf4010v2_t"
    "LINKER:--wrap=_Z14mf4010v2_closeP10mf4010v2_t")

add_subdirectory(sim)
add_subdirectory(platform/sim)
add_subdirectory(sim/app)
add_subdirectory(sim/arm)

enable_testing()
add_subdirectory(tests)
