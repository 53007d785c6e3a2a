# Cross toolchain for the STM32F407 (Cortex-M4F, hard float, newlib).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_OBJCOPY arm-none-eabi-objcopy CACHE FILEPATH "")
set(CMAKE_SIZE arm-none-eabi-size CACHE FILEPATH "")

set(GIMBAL_CPU_FLAGS "-mcpu=cortex-m4 -mthumb -mfpu=fpv4-sp-d16 -mfloat-abi=hard")
# newlib nano for compiling as for linking: its headers (_WANT_REENT_SMALL)
# lay out struct _reent, which the kernel keeps per thread, as the linked
# libc_nano.a reads it. The chip checks compare the two (checks.py newlib).
set(GIMBAL_LIBC_FLAGS "--specs=nano.specs")
set(CMAKE_C_FLAGS_INIT "${GIMBAL_CPU_FLAGS} ${GIMBAL_LIBC_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT
    "${GIMBAL_CPU_FLAGS} ${GIMBAL_LIBC_FLAGS} -fno-exceptions -fno-rtti -fno-threadsafe-statics")
set(CMAKE_ASM_FLAGS_INIT "${GIMBAL_CPU_FLAGS} ${GIMBAL_LIBC_FLAGS} -x assembler-with-cpp")
# CMake links with the compile flags too: --specs given twice is refused.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
