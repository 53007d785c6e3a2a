// The virtual board's printf and puts, reduced to what the comparison needs:
// the host C library formats, the bytes go to the current digest.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "suite.hpp"

extern "C" {

int gimbal_rt_vprintf(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) {
        return n;
    }
    std::vector<char> text(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    target_suite::console_bytes(text.data(), static_cast<std::size_t>(n));
    return n;
}

int gimbal_rt_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = gimbal_rt_vprintf(format, args);
    va_end(args);
    return n;
}

int gimbal_rt_puts(const char* text) {
    target_suite::console_bytes(text, std::strlen(text));
    target_suite::console_bytes("\n", 1);
    return 1;
}

int gimbal_rt_putchar(int ch) {
    const char c = static_cast<char>(ch);
    target_suite::console_bytes(&c, 1);
    return ch;
}

int gimbal_rt_fflush(FILE*) {
    return 0;
}
}
