# One library per firmware layer. Include directories are PUBLIC and follow the
# layering, so an include across layers fails to compile.
#
# The platform API target (gimbal_platform_api) is defined by the platform file
# before the layers are declared: it carries the HAL, CMSIS and RTOS headers.

set(GIMBAL_FIRMWARE_LAYERS "")

# gimbal_firmware_layer(NAME DIRS <dir>... DEPS <target>...)
function(gimbal_firmware_layer name)
    cmake_parse_arguments(ARG "" "" "DIRS;DEPS" ${ARGN})
    set(sources "")
    set(includes "")
    foreach(dir IN LISTS ARG_DIRS)
        file(GLOB dir_sources CONFIGURE_DEPENDS
            ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.c)
        list(APPEND sources ${dir_sources})
        list(APPEND includes ${CMAKE_SOURCE_DIR}/${dir})
    endforeach()
    if(GIMBAL_SIM_EXCLUDED_SOURCES)
        list(REMOVE_ITEM sources ${GIMBAL_SIM_EXCLUDED_SOURCES})
    endif()
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC ${includes})
        target_link_libraries(${name}
            PUBLIC ${ARG_DEPS} gimbal_platform_api
            PRIVATE gimbal_strict_warnings gimbal_firmware_codegen gimbal_firmware_backend
                    gimbal_coverage)
    else()
        # A layer with headers only (so far).
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${includes})
        target_link_libraries(${name} INTERFACE ${ARG_DEPS} gimbal_platform_api)
    endif()
    set(GIMBAL_FIRMWARE_LAYERS ${GIMBAL_FIRMWARE_LAYERS} ${name} PARENT_SCOPE)
endfunction()

function(gimbal_declare_firmware)
    gimbal_firmware_layer(fw_interfaces
        DIRS interfaces/led interfaces/can interfaces/i2c interfaces/gpio
             interfaces/soft_i2c interfaces/uart)
    gimbal_firmware_layer(fw_bsp
        DIRS bsp/stm32f4/led bsp/stm32f4/can bsp/stm32f4/i2c bsp/stm32f4/gpio
             bsp/stm32f4/soft_i2c bsp/stm32f4/uart)
    gimbal_firmware_layer(fw_hal
        DIRS hal/stm32f4/led hal/stm32f4/can hal/stm32f4/i2c hal/stm32f4/gpio
             hal/stm32f4/soft_i2c hal/stm32f4/uart
        DEPS fw_interfaces fw_bsp)
    gimbal_firmware_layer(fw_modules
        DIRS modules/device/led modules/device/motor modules/device/jy901p
             modules/control/pid modules/bus/soft_i2c
        DEPS fw_interfaces)
    # app_init is the one place where modules and ports meet.
    gimbal_firmware_layer(fw_app DIRS app DEPS fw_modules fw_hal)
    gimbal_firmware_layer(fw_core DIRS Core/Src DEPS fw_app)
    set(GIMBAL_FIRMWARE_LAYERS ${GIMBAL_FIRMWARE_LAYERS} PARENT_SCOPE)
endfunction()
