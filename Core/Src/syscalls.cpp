// Runtime-library system calls: the console on USART1 and the process stubs.
#include <cerrno>
#include <sys/stat.h>

#include "usart.h"

extern "C" {

int __io_getchar(void) __attribute__((weak));

int __io_putchar(int ch) {
    // One byte at a time, blocking; a byte that cannot be sent is dropped.
    uint8_t byte = static_cast<uint8_t>(ch);
    HAL_UART_Transmit(&huart1, &byte, 1, 50);
    return ch;
}

int _write(int file, char* ptr, int len) {
    (void)file;
    for (int i = 0; i < len; i++) {
        __io_putchar(ptr[i]);
    }
    return len;
}

int _read(int file, char* ptr, int len) {
    (void)file;
    for (int i = 0; i < len; i++) {
        ptr[i] = (__io_getchar != nullptr) ? static_cast<char>(__io_getchar()) : 0;
    }
    return len;
}

int _close(int file) {
    (void)file;
    return -1;
}

int _fstat(int file, struct stat* st) {
    (void)file;
    st->st_mode = S_IFCHR;
    return 0;
}

int _isatty(int file) {
    (void)file;
    return 1;
}

int _lseek(int file, int ptr, int dir) {
    (void)file;
    (void)ptr;
    (void)dir;
    return 0;
}

int _getpid(void) {
    return 1;
}

int _kill(int pid, int sig) {
    (void)pid;
    (void)sig;
    errno = EINVAL;
    return -1;
}

void _exit(int status) {
    _kill(status, -1);
    for (;;) {
        __WFI();
    }
}
}
