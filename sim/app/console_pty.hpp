// The console on a pseudo-terminal: a serial terminal program opens the path
// printed at start and sees USART1's bytes as it would the real board's.
#pragma once

#include <cstdint>
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

  private:
    int master_ = -1;
    int slave_ = -1;  // held open: bytes wait for a reader, and no hang-up in between
    std::string path_;
};

}  // namespace sim
