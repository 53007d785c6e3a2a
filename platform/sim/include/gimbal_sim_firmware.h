// Included first in every firmware source of the virtual-board build.
//
// On the chip the firmware brings its own main and runtime-library system
// calls, and its printf/puts go through newlib's line-buffered stdout. In a
// host process those names belong to the host's C library, so here they are
// renamed: printf/puts reach the virtual board's stand-in for the embedded
// runtime library, which hands complete runs to the firmware's _write.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
int gimbal_rt_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int gimbal_rt_vprintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
int gimbal_rt_puts(const char* text);
int gimbal_rt_putchar(int ch);
int gimbal_rt_fflush(FILE* stream);
}

#define printf gimbal_rt_printf
#define vprintf gimbal_rt_vprintf
#define puts gimbal_rt_puts
#define putchar gimbal_rt_putchar
#define fflush gimbal_rt_fflush

#define main gimbal_firmware_main
#define _write gimbal_fw_write
#define _read gimbal_fw_read
#define _close gimbal_fw_close
#define _fstat gimbal_fw_fstat
#define _isatty gimbal_fw_isatty
#define _lseek gimbal_fw_lseek
#define _getpid gimbal_fw_getpid
#define _kill gimbal_fw_kill
#define _exit gimbal_fw_exit
#define _sbrk gimbal_fw_sbrk
// Linker-script symbols: the board places them in its model of the SRAM.
#define _end gimbal_fw_end
#define _estack gimbal_fw_estack
#define _Min_Stack_Size gimbal_fw_min_stack_size
