// The runtime library's system calls as the firmware supplies them: the heap
// up to the main stack's reserve, and the file and process stubs.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/stat.h>

#include "named_case.hpp"
#include "board_probe.hpp"
#include "sim/testing/fresh_process.hpp"

// The firmware's system calls as the virtual board names them.
extern "C" {
void* gimbal_fw_sbrk(ptrdiff_t incr);
int gimbal_fw_fstat(int file, struct stat* st);
int gimbal_fw_isatty(int file);
int gimbal_fw_kill(int pid, int sig);
int gimbal_fw_read(int file, char* ptr, int len);
}

namespace {

using board_test::json;

// The linker script's figures: heap from 0x2000A000 (end of static data on
// the virtual board) up to 0x400 bytes below the top of SRAM.
constexpr uintptr_t kEnd = 0x2000A000;
constexpr uintptr_t kLimit = 0x20020000 - 0x400;
const uintptr_t kFailed = static_cast<uintptr_t>(-1);

uintptr_t sbrk(ptrdiff_t incr) {
    return reinterpret_cast<uintptr_t>(gimbal_fw_sbrk(incr));
}

struct SbrkCase : named_case::Case {
    ptrdiff_t first;   // the first request, into a fresh heap
    ptrdiff_t second;  // then this one
    uintptr_t first_result, second_result;
    int second_errno;
    uintptr_t end_after;  // heap end afterwards, as _sbrk(0) reports it
};

constexpr ptrdiff_t kAll = static_cast<ptrdiff_t>(kLimit - kEnd);

class Sbrk : public ::testing::TestWithParam<SbrkCase> {};

TEST_P(Sbrk, GrowsUpToTheStackReserveAndNoFurther) {
    const SbrkCase c = GetParam();
    const auto child = sim::testing::in_fresh_process([&c] {
        const uintptr_t first = sbrk(c.first);
        errno = 0;
        const uintptr_t second = sbrk(c.second);
        const int second_errno = errno;
        return json{first, second, second_errno, sbrk(0)}.dump();
    });
    ASSERT_TRUE(child.ok) << child.failure;
    EXPECT_EQ(json::parse(child.payload),
              json({c.first_result, c.second_result, c.second_errno, c.end_after}));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Sbrk,
    ::testing::Values(SbrkCase{"FirstCallOfZeroGivesTheEnd", 0, 0, kEnd, kEnd, 0, kEnd},
                      SbrkCase{"UpToTheLimitExactly", 16, kAll - 16, kEnd, kEnd + 16, 0, kLimit},
                      SbrkCase{"OneBytePastTheLimit", 16, kAll - 15, kEnd, kFailed, ENOMEM,
                               kEnd + 16},
                      SbrkCase{"NothingLeftAtTheLimit", kAll, 1, kEnd, kFailed, ENOMEM, kLimit},
                      SbrkCase{"FirstRequestTooLarge", kAll + 1, 0, kFailed, kEnd, 0, kEnd}),
    named_case::by_name);

// Every descriptor is the console: stdin, stdout, stderr, any other, invalid.
class Descriptor : public ::testing::TestWithParam<int> {};

TEST_P(Descriptor, IsACharacterDeviceAndATerminal) {
    struct stat st = {};
    st.st_mode = S_IFREG | 0644;
    EXPECT_EQ(gimbal_fw_fstat(GetParam(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(gimbal_fw_isatty(GetParam()), 1);
}

INSTANTIATE_TEST_SUITE_P(Files, Descriptor, ::testing::Values(0, 1, 2, 7, -1, 100000));

TEST(ProcessStubs, KillRefusesWithEinval) {
    for (const auto& [pid, sig] : {std::pair{1, 9}, {0, -1}, {-5, 0}}) {
        errno = 0;
        EXPECT_EQ(gimbal_fw_kill(pid, sig), -1);
        EXPECT_EQ(errno, EINVAL);
    }
}

// No input hook on this board: a read delivers the bytes asked for, all zero.
TEST(ProcessStubs, ReadWithoutAnInputHookGivesZeros) {
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(gimbal_fw_read(0, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 4), std::string("\0\0\0x", 4));
    EXPECT_EQ(gimbal_fw_read(0, buf, 0), 0);
}

}  // namespace
