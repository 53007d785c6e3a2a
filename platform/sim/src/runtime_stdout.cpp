// The embedded runtime library's standard output, as the firmware gets it on
// the chip: newlib nano 3.3.0 with the kernel's per-thread runtime state
// (configUSE_NEWLIB_REENTRANT), measured on an emulated Cortex-M4.
//
// - Every thread has a stdout of its own, and so has the code that runs
//   before the kernel starts. A thread's first output sets up its three
//   standard streams, whose records come four at a time in 428-byte blocks
//   shared by all threads (malloc'd when no record is free), then asks
//   _fstat, takes a 1024-byte buffer from the heap and asks _isatty: a
//   terminal makes the stream line-buffered.
// - A buffer is flushed to _write on a newline (line-buffered) or when full,
//   by its own thread only; text left in it waits for that thread.
// - A thread's first floating-point conversion allocates its big-number
//   storage: 16, 132, 28 and 24 bytes.
// - nano's malloc asks _sbrk for each block, 8 bytes over its size; its
//   very first call asks _sbrk(0).
// - No heap for the buffer: the stream runs unbuffered, one _write per
//   character. No heap for the stream records or the big numbers: newlib
//   writes through a null stream record or fails an assertion and aborts.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "hal_internal.hpp"
#include "kernel.hpp"
#include "sim/core/costs.hpp"
#include "sim/platform.hpp"

extern "C" {
// The firmware's own system calls (renamed for the host), where it has them.
int gimbal_fw_write(int file, char* ptr, int len) __attribute__((weak));
void* gimbal_fw_sbrk(ptrdiff_t incr) __attribute__((weak));
int gimbal_fw_fstat(int file, struct stat* st) __attribute__((weak));
int gimbal_fw_isatty(int file) __attribute__((weak));
void gimbal_fw_exit(int status) __attribute__((weak));
extern uint8_t gimbal_fw_end;  // the linker script's end of static data
extern uint8_t* __sbrk_heap_end __attribute__((weak));
}

namespace {

constexpr std::size_t kBufferBytes = 1024;  // BUFSIZ
constexpr std::size_t kGlueBlockBytes = 428;
constexpr int kRecordsPerBlock = 4;
constexpr int kStdStreams = 3;
constexpr std::size_t kMallocOverhead = 8;
constexpr std::size_t kBigNumberBlocks[] = {16, 132, 28, 24};

struct Stream {
    bool set_up = false;  // the thread's standard streams exist
    bool buffer_made = false;
    bool big_numbers = false;  // storage for floating-point conversions
    char* buffer = nullptr;
    std::size_t size = 1;  // 1: unbuffered
    std::size_t used = 0;
    bool line_buffered = false;
};

struct Runtime {
    bool malloc_started = false;
    int free_records = 0;
    std::map<const void*, Stream> streams;  // by thread; null before the kernel runs
};

Runtime& runtime() {
    static Runtime* r = new Runtime();
    return *r;
}

sim::Cpu& cpu() {
    return sim::hal::cpu();
}

// nano's malloc: one _sbrk per block, nothing reused (nothing is freed).
void* allocate(std::size_t bytes) {
    Runtime& rt = runtime();
    if (gimbal_fw_sbrk == nullptr) {
        return nullptr;
    }
    if (!rt.malloc_started) {
        rt.malloc_started = true;
        gimbal_fw_sbrk(0);
    }
    const std::size_t block = (bytes + 3) / 4 * 4 + kMallocOverhead;
    void* p = gimbal_fw_sbrk(static_cast<ptrdiff_t>(block));
    if (p == reinterpret_cast<void*>(-1)) {
        return nullptr;
    }
    return static_cast<char*>(p) + kMallocOverhead;
}

Stream& current_stream() {
    const auto* thread = sim::rtos::Kernel::get().running();
    return runtime().streams[thread];
}

// What newlib does before a thread's first character reaches its stdout.
// False if the thread can go no further.
bool set_up(Stream& s) {
    Runtime& rt = runtime();
    if (!s.set_up) {
        s.set_up = true;
        for (int i = 0; i < kStdStreams; i++) {
            if (rt.free_records == 0) {
                if (gimbal_fw_sbrk != nullptr && allocate(kGlueBlockBytes) == nullptr) {
                    // The chip would store through a null stream record; what
                    // that does there is not known, so the board stops.
                    cpu().halt("runtime library: no heap for the standard streams");
                    return false;
                }
                rt.free_records += kRecordsPerBlock;
            }
            rt.free_records--;
        }
    }
    if (!s.buffer_made) {
        s.buffer_made = true;
        struct stat st = {};
        const bool is_char_device =
            gimbal_fw_fstat != nullptr && gimbal_fw_fstat(1, &st) == 0 && S_ISCHR(st.st_mode);
        if (void* buffer = allocate(kBufferBytes)) {
            s.buffer = static_cast<char*>(buffer);
            s.size = kBufferBytes;
        }
        s.line_buffered = is_char_device && gimbal_fw_isatty != nullptr && gimbal_fw_isatty(1);
    }
    return true;
}

void flush(Stream& s) {
    const std::size_t n = s.used;
    s.used = 0;  // before the write, as newlib does
    if (n > 0 && gimbal_fw_write != nullptr) {
        gimbal_fw_write(1, s.buffer, static_cast<int>(n));
    }
}

void put(Stream& s, char c) {
    cpu().consume(sim::cost::kRuntimeChar);
    if (s.buffer == nullptr) {
        if (gimbal_fw_write != nullptr) {
            gimbal_fw_write(1, &c, 1);
        }
        return;
    }
    s.buffer[s.used++] = c;
    if ((c == '\n' && s.line_buffered) || s.used == s.size) {
        flush(s);
    }
}

int put_text(Stream& s, const char* text, std::size_t len) {
    for (std::size_t i = 0; i < len; i++) {
        put(s, text[i]);
    }
    return static_cast<int>(len);
}

bool has_float_conversion(const char* format) {
    for (const char* p = format; *p != '\0'; p++) {
        if (*p != '%') {
            continue;
        }
        p++;
        while (*p != '\0' && std::string("-+ #0123456789.*hlLqjzt").find(*p) != std::string::npos) {
            p++;
        }
        if (*p == '\0') {
            return false;
        }
        if (std::string("fFeEgGaA").find(*p) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The first floating-point conversion of a thread allocates its big-number
// storage; without heap newlib's assertion fails and the thread exits.
bool ready_for_floats(Stream& s) {
    if (s.big_numbers) {
        return true;
    }
    s.big_numbers = true;
    for (std::size_t bytes : kBigNumberBlocks) {
        if (allocate(bytes) == nullptr && gimbal_fw_sbrk != nullptr) {
            if (gimbal_fw_exit != nullptr) {
                gimbal_fw_exit(1);
            }
            cpu().halt("runtime library: abort");
            return false;
        }
    }
    return true;
}

}  // namespace

std::size_t sim::runtime_heap_used() {
    if (&__sbrk_heap_end == nullptr || __sbrk_heap_end == nullptr) {
        return 0;
    }
    return static_cast<std::size_t>(__sbrk_heap_end - &gimbal_fw_end);
}

extern "C" {

int gimbal_rt_vprintf(const char* format, va_list args) {
    Stream& s = current_stream();
    if (!set_up(s) || (has_float_conversion(format) && !ready_for_floats(s))) {
        return -1;
    }
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        return n;
    }
    std::vector<char> text(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    return put_text(s, text.data(), static_cast<std::size_t>(n));
}

int gimbal_rt_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = gimbal_rt_vprintf(format, args);
    va_end(args);
    return n;
}

int gimbal_rt_puts(const char* text) {
    Stream& s = current_stream();
    if (!set_up(s)) {
        return EOF;
    }
    std::size_t len = 0;
    while (text[len] != '\0') {
        len++;
    }
    put_text(s, text, len);
    put_text(s, "\n", 1);
    return 1;
}

int gimbal_rt_putchar(int ch) {
    Stream& s = current_stream();
    if (!set_up(s)) {
        return EOF;
    }
    const char c = static_cast<char>(ch);
    put_text(s, &c, 1);
    return static_cast<unsigned char>(c);
}

int gimbal_rt_fflush(FILE* file) {
    (void)file;
    Stream& s = current_stream();
    if (s.buffer != nullptr) {
        flush(s);
    }
    return 0;
}
}
