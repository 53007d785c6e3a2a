#include "sim/app/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/app/scenario.hpp"

namespace sim {

std::string read_input_file(const std::string& path, std::size_t max_bytes) {
    if (path.empty()) {
        throw ScenarioError("an empty file name");
    }
    // Non-blocking: a FIFO with no writer must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throw ScenarioError("cannot read '" + path + "': " + std::strerror(errno));
    }
    struct stat st = {};
    std::string text;
    std::string problem;
    if (::fstat(fd, &st) != 0) {
        problem = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        problem = "a folder, not a file";
    } else if (!S_ISREG(st.st_mode)) {
        problem = "not a regular file";
    } else {
        // One byte more than allowed tells a file that grew beyond the limit.
        // The buffer grows with what arrives: a scenario is a few hundred bytes.
        const std::size_t limit = max_bytes + 1;
        text.resize(std::min<std::size_t>(limit, static_cast<std::size_t>(st.st_size) + 4096));
        std::size_t got = 0;
        while (got < limit) {
            if (got == text.size()) {
                text.resize(std::min(limit, text.size() * 2));
            }
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                problem = std::strerror(errno);
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        text.resize(got);
        if (problem.empty() && got > max_bytes) {
            problem = "larger than " + std::to_string(max_bytes) + " bytes";
        }
    }
    ::close(fd);
    if (problem.empty()) {
        const std::size_t nul = text.find('\0');
        if (nul != std::string::npos) {
            problem = "a NUL byte at offset " + std::to_string(nul);
        }
    }
    if (!problem.empty()) {
        throw ScenarioError("cannot use '" + path + "': " + problem);
    }
    return text;
}

}  // namespace sim
