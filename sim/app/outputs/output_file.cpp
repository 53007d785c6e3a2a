#include "sim/app/outputs/output_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace sim {

namespace {
// Large enough that a run's many small writes cost one system call per
// 64 KiB; a chosen value.
constexpr std::size_t kBufferBytes = 64 * 1024;
}  // namespace

OutputFile::OutputFile(const std::filesystem::path& dir, const std::string& name)
    : path_(dir / name), temp_(dir / temp_name(name)), buffer_(kBufferBytes) {
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        fail(errno);
    }
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!committed_) {
        ::unlink(temp_.c_str());
    }
}

void OutputFile::write_through(std::string_view bytes) {
    while (!bytes.empty() && !failed()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno != EINTR) {
                fail(errno);
            }
            continue;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void OutputFile::drain() {
    if (!failed()) {
        write_through(std::string_view(buffer_.data(), used_));
    }
    used_ = 0;
}

void OutputFile::commit() {
    drain();
    if (fd_ >= 0) {
        if (::close(fd_) != 0) {
            fail(errno);
        }
        fd_ = -1;
    }
    if (!failed() && std::rename(temp_.c_str(), path_.c_str()) != 0) {
        fail(errno);
    }
    if (failed()) {
        throw OutputError("cannot write '" + path_.string() + "': " + std::strerror(error_));
    }
    committed_ = true;
}

}  // namespace sim
