#include "sim/app/console_pty.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace sim {

namespace {
[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("console pty: ") + what + ": " + std::strerror(errno));
}
}  // namespace

ConsolePty::ConsolePty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) {
        fail("posix_openpt");
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        fail("grantpt/unlockpt");
    }
    const char* name = ptsname(master_);
    if (name == nullptr) {
        fail("ptsname");
    }
    path_ = name;
    hold();
    // Raw: the bytes pass unchanged (no CR insertion, no echo back to us).
    termios mode{};
    if (tcgetattr(slave_, &mode) != 0) {
        fail("tcgetattr");
    }
    cfmakeraw(&mode);
    cfsetspeed(&mode, B115200);
    if (tcsetattr(slave_, TCSANOW, &mode) != 0) {
        fail("tcsetattr");
    }
}

void ConsolePty::hold() {
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        fail(path_.c_str());
    }
}

void ConsolePty::release() {
    if (slave_ >= 0) {
        close(slave_);
        slave_ = -1;
    }
}

// With nobody holding the terminal side, the board's side reads as hung up;
// the terminal's settings stay with the pair meanwhile.
bool ConsolePty::terminal_open() const {
    pollfd p{master_, POLLIN, 0};
    return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

void ConsolePty::wait_for_terminal(const std::function<bool()>& give_up) {
    release();
    while (!terminal_open() && !give_up()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    hold();
}

ConsolePty::~ConsolePty() {
    if (slave_ >= 0) {
        close(slave_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

void ConsolePty::send(uint8_t byte) {
    while (write(master_, &byte, 1) < 0 && errno == EINTR) {
    }
}

}  // namespace sim
