// Scripted tables below the firmware's modules and stand-ins for the kernel
// calls of the thread bodies, the same in both builds. Everything the firmware
// does through them is recorded into the current digest.
#pragma once

#include <csetjmp>
#include <cstdint>

#include "app.h"
#include "can_if.h"
#include "suite.hpp"

namespace target_suite {

/// Receives every recorded step; null records nothing.
extern Digest* g_out;

/// The bit-banged bus with the IMU on it: a register image read through the
/// frame operations (address 0x50, register pointer, auto-increment).
struct ImuScript {
    int init_result = 0;
    bool present = true;
    uint8_t image[2 * 0x90] = {};  // register n at bytes 2n (low) and 2n+1
    /// Called at each queued sample; true lets the thread go on (one long
    /// pass instead of many short ones), false or null ends the pass.
    bool (*next_sample)() = nullptr;
    void set_reg(uint32_t reg, int16_t value);
};
extern ImuScript g_imu;
void register_imu_table();

/// The motors' CAN channel: what each command gets back.
enum class Reply : uint8_t { echo, garbage, none, refuse_send, init_fails };
extern Reply g_reply;
void register_can_table();

/// Samples the control thread's queue gives out before the pass ends, and a
/// hook called after every `sample_chunk` of them.
struct SampleScript {
    const imu_data_t* samples = nullptr;
    uint32_t count = 0;
    uint32_t taken = 0;
    uint32_t chunk = 0;
    void (*chunk_done)(uint32_t taken) = nullptr;
};
extern SampleScript g_samples;

/// Runs `body` until a kernel stand-in ends the pass (the thread's next wait).
void run_pass(void (*body)());

}  // namespace target_suite
