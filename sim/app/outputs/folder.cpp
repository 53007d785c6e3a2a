#include "sim/app/outputs/folder.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writer.hpp"

namespace sim {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, int error) {
    throw OutputError("cannot write '" + path.string() + "': " + std::strerror(error));
}

}  // namespace

void clear_outputs(const std::filesystem::path& dir) {
    for (const std::string& name : output_file_names()) {
        std::error_code error;
        std::filesystem::remove_all(dir / name, error);
        if (error) {
            fail(dir / name, error.value());
        }
    }
}

OutputFolder::OutputFolder(const std::filesystem::path& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        fail(dir, error.value());
    }
    const std::filesystem::path lock = dir / kLockName;
    lock_fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (lock_fd_ < 0) {
        fail(lock, errno);
    }
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            throw FolderInUse("--out '" + dir.string() + "' is in use by another run");
        }
        fail(lock, errno);
    }
    clear_outputs(dir);
}

OutputFolder::~OutputFolder() {
    if (lock_fd_ >= 0) {
        ::close(lock_fd_);
    }
}

}  // namespace sim
