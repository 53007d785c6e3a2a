// The console on a pseudo-terminal: a serial terminal program opens the path
// printed at start and sees USART1's bytes as it would the real board's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

class ConsolePty {
  public:
    /// Opens a pseudo-terminal in raw mode; throws std::runtime_error.
    ConsolePty();
    ~ConsolePty();
    ConsolePty(const ConsolePty&) = delete;
    ConsolePty& operator=(const ConsolePty&) = delete;

    /// The terminal side's path, e.g. /dev/pts/3.
    const std::string& path() const { return path_; }
    /// One console byte. With nobody reading and the terminal's buffer full
    /// it is lost, as a UART's byte with nothing on the line.
    void send(uint8_t byte);

    /// Holds the board at reset: lets go of the terminal side and returns
    /// once a terminal program has opened it (or `give_up` says so), then
    /// holds it again.
    void wait_for_terminal(const std::function<bool()>& give_up);
    /// Lets go of the terminal side for good: terminal_open() then tells
    /// whether a program has it open.
    void release();
    bool terminal_open() const;
    /// The board's side, non-blocking.
    int fd() const { return master_; }

  private:
    void hold();

    int master_ = -1;
    int slave_ = -1;  // held open: bytes wait for a reader, and no hang-up in between
    std::string path_;
};

}  // namespace sim
