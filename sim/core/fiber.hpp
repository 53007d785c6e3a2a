// A firmware execution context (the start-up code, one RTOS thread, or the
// idle loop) on its own host stack. The board switches into a fiber with
// resume(); the fiber switches back with Fiber::suspend() from any depth.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace sim {

class Fiber {
  public:
    Fiber(std::function<void()> body, std::size_t stack_bytes);
    ~Fiber();
    Fiber(const Fiber&) = delete;
    Fiber& operator=(const Fiber&) = delete;

    /// Runs the fiber until it suspends. Called from the board's own context only.
    void resume();
    /// From inside a fiber: hands the host thread back to the board.
    static void suspend();
    /// The fiber running now, or null on the board's own context.
    static Fiber* current() { return current_; }

    bool finished() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    static inline Fiber* current_ = nullptr;  // asked at every platform call
};

}  // namespace sim
