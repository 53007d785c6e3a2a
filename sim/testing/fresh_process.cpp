#include "fresh_process.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#if defined(GIMBAL_COVERAGE)
extern "C" void __gcov_dump(void);
#endif

namespace sim::testing {

namespace {

bool write_all(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ChildResult in_fresh_process(const std::function<std::string()>& body, unsigned wall_limit_s) {
    ChildResult result;
    int fds[2];
    if (::pipe(fds) != 0) {
        result.failure = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.failure = std::string("fork: ") + std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(wall_limit_s);
        const std::string payload = body();
        const bool sent = write_all(fds[1], payload);
        ::close(fds[1]);
        std::fflush(nullptr);
#if defined(GIMBAL_COVERAGE)
        __gcov_dump();  // _exit skips the counters' write at exit
#endif
        ::_exit(sent ? 0 : 3);
    }
    ::close(fds[1]);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        result.payload.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        result.ok = true;
    } else if (WIFSIGNALED(status)) {
        result.failure = WTERMSIG(status) == SIGALRM
                             ? std::string("child hung: killed after its wall-clock limit")
                             : "child killed by signal " + std::to_string(WTERMSIG(status));
    } else {
        result.failure = "child exited with status " + std::to_string(WEXITSTATUS(status));
    }
    return result;
}

}  // namespace sim::testing
