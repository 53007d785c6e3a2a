// The embedded runtime library's standard output, as the firmware sees it on
// the chip: one line buffer of 1024 bytes shared by every thread, no lock,
// flushed when a newline goes in or the buffer fills. Flushing resets the
// buffer before it hands the run to the firmware's _write, so a thread that
// prints while another is still flushing writes over bytes not yet sent,
// exactly as on the board.
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "sim/core/costs.hpp"
#include "hal_internal.hpp"

extern "C" int gimbal_fw_write(int file, char* ptr, int len) __attribute__((weak));

namespace {

constexpr std::size_t kBufferBytes = 1024;

struct Stream {
    char buffer[kBufferBytes];
    std::size_t used = 0;
};

Stream& stream() {
    static Stream* s = new Stream();
    return *s;
}

void flush(Stream& s) {
    const std::size_t n = s.used;
    s.used = 0;
    if (n > 0 && gimbal_fw_write != nullptr) {
        gimbal_fw_write(1, s.buffer, static_cast<int>(n));
    }
}

void put(Stream& s, char c) {
    sim::hal::cpu().consume(sim::cost::kRuntimeChar);
    // Another thread may have flushed under us: the index is re-read each time.
    s.buffer[s.used++] = c;
    if (c == '\n' || s.used == kBufferBytes) {
        flush(s);
    }
}

int put_text(const char* text, std::size_t len) {
    Stream& s = stream();
    for (std::size_t i = 0; i < len; i++) {
        put(s, text[i]);
    }
    return static_cast<int>(len);
}

}  // namespace

extern "C" {

int gimbal_rt_vprintf(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        return n;
    }
    std::vector<char> text(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    return put_text(text.data(), static_cast<std::size_t>(n));
}

int gimbal_rt_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = gimbal_rt_vprintf(format, args);
    va_end(args);
    return n;
}

int gimbal_rt_puts(const char* text) {
    std::size_t len = 0;
    while (text[len] != '\0') {
        len++;
    }
    put_text(text, len);
    put_text("\n", 1);
    return 1;
}

int gimbal_rt_putchar(int ch) {
    const char c = static_cast<char>(ch);
    put_text(&c, 1);
    return static_cast<unsigned char>(c);
}

int gimbal_rt_fflush(FILE* file) {
    (void)file;
    flush(stream());
    return 0;
}
}
