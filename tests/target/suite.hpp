// Vectors run by the firmware's own code, both on the host and on an emulated
// Cortex-M4: each group reduces everything the code produced (float bit
// patterns, return codes, frames, console bytes) to digests, so that the two
// builds can be compared bit for bit through one committed list.
#pragma once

#include <cstddef>
#include <cstdint>

namespace target_suite {

/// FNV-1a, 64 bits, over bytes exactly as they were produced.
struct Digest {
    uint64_t h = 0xcbf29ce484222325ULL;
    void byte(uint8_t b) { h = (h ^ b) * 0x100000001b3ULL; }
    void bytes(const void* p, std::size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        for (std::size_t i = 0; i < n; i++) {
            byte(b[i]);
        }
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; i++) {
            byte(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    /// A float's bits; every NaN as one pattern (see nan_bits).
    void f32(float v);
};

/// One compared result: `items` inputs of group `group`, chunk `index`.
struct Result {
    const char* group;
    uint32_t index;
    uint32_t items;
    uint64_t digest;
};

/// Where results go: the host test collects them, the image compares them.
using Sink = void (*)(const Result& result, void* context);

/// Runs every group in a fixed order.
void run_all(Sink sink, void* context);

/// The firmware's console bytes, from whichever output path the build has.
void console_bytes(const char* data, std::size_t len);

/// NaNs seen by Digest::f32, by bit pattern class: how many had the sign
/// bit set. The host's default NaN is negative, the chip's positive.
struct NanCount {
    uint32_t total;
    uint32_t negative;
};
NanCount nan_count();

/// Stack pointer at the call into a measured function (the emulated image
/// measures below it); 0 on the host.
extern volatile uint32_t g_call_sp;
#if defined(__arm__)
#define TARGET_SUITE_MARK_SP()                    \
    do {                                          \
        uint32_t sp_;                             \
        __asm volatile("mov %0, sp" : "=r"(sp_)); \
        ::target_suite::g_call_sp = sp_;          \
    } while (0)
#else
#define TARGET_SUITE_MARK_SP() (::target_suite::g_call_sp = 0)
#endif

/// One pass of each thread body that runs without the board, for the stack
/// measurement: the sensor thread reads and prints one sample, the control
/// thread starts up and handles one sample. (The monitor thread's body lives
/// with the start-up code, which needs the whole board.)
void sensor_pass(int16_t roll, int16_t pitch, int16_t yaw, int16_t temp);
void control_pass();

}  // namespace target_suite
