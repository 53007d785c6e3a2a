#include "sim/app/stop.hpp"

#include <atomic>
#include <csignal>

namespace sim {

namespace {

std::atomic<int> g_stop{0};

extern "C" void on_stop_signal(int signal_number) {
    request_stop(signal_number);
}

}  // namespace

void catch_stop_signals() {
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM}) {
        sigaction(s, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void request_stop(int signal_number) {
    int none = 0;
    g_stop.compare_exchange_strong(none, signal_number);
}

int stop_requested() {
    return g_stop.load(std::memory_order_relaxed);
}

const char* stop_signal_name(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGPIPE:
            return "SIGPIPE";
        default:
            return "a signal";
    }
}

}  // namespace sim
