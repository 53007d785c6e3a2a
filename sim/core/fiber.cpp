#include "sim/core/fiber.hpp"

#include <boost/context/fiber.hpp>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define GIMBAL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GIMBAL_ASAN 1
#endif
#endif

#ifdef GIMBAL_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace sim {

namespace ctx = boost::context;

namespace {

// Tell the address sanitizer about every stack switch, or it mistakes the
// fiber stacks for overflows of the host stack.
struct StackBounds {
    const void* bottom = nullptr;
    std::size_t size = 0;
};

void start_switch(void** fake_stack, const StackBounds& to) {
#ifdef GIMBAL_ASAN
    __sanitizer_start_switch_fiber(fake_stack, to.bottom, to.size);
#else
    (void)fake_stack;
    (void)to;
#endif
}

void finish_switch(void* fake_stack, StackBounds* from) {
#ifdef GIMBAL_ASAN
    __sanitizer_finish_switch_fiber(fake_stack, from ? &from->bottom : nullptr,
                                    from ? &from->size : nullptr);
#else
    (void)fake_stack;
    (void)from;
#endif
}

struct RecordingStack {
    std::size_t size;
    StackBounds* bounds;

    ctx::stack_context allocate() {
        void* base = std::malloc(size);
        if (base == nullptr) {
            std::abort();
        }
        bounds->bottom = base;
        bounds->size = size;
        ctx::stack_context sc;
        sc.size = size;
        sc.sp = static_cast<char*>(base) + size;
        return sc;
    }
    void deallocate(ctx::stack_context& sc) { std::free(static_cast<char*>(sc.sp) - sc.size); }
};

}  // namespace

struct Fiber::Impl {
    ctx::fiber self;   // this fiber, while it is suspended
    ctx::fiber board;  // the board's context, while this fiber runs
    std::function<void()> body;
    StackBounds own;
    StackBounds board_stack;
    bool finished = false;
};

Fiber::Fiber(std::function<void()> body, std::size_t stack_bytes)
    : impl_(std::make_unique<Impl>()) {
    impl_->body = std::move(body);
    Impl* impl = impl_.get();
    impl_->self = ctx::fiber(std::allocator_arg, RecordingStack{stack_bytes, &impl_->own},
                             [impl](ctx::fiber&& board) {
                                 finish_switch(nullptr, &impl->board_stack);
                                 impl->board = std::move(board);
                                 impl->body();
                                 impl->finished = true;
                                 // A finished fiber never runs again; park it.
                                 for (;;) {
                                     Fiber::suspend();
                                 }
                                 return std::move(impl->board);
                             });
}

// Fibers of a board live as long as the process: they are never destroyed
// while suspended, because unwinding a firmware stack is not possible.
Fiber::~Fiber() {
    if (impl_ && !impl_->finished) {
        (void)impl_.release();
    }
}

void Fiber::resume() {
    Fiber* previous = current_;
    current_ = this;
    void* fake = nullptr;
    start_switch(&fake, impl_->own);
    impl_->self = std::move(impl_->self).resume();
    finish_switch(fake, nullptr);
    current_ = previous;
}

void Fiber::suspend() {
    Fiber* self = current_;
    Impl* impl = self->impl_.get();
    void* fake = nullptr;
    start_switch(&fake, impl->board_stack);
    impl->board = std::move(impl->board).resume();
    finish_switch(fake, nullptr);
}

bool Fiber::finished() const {
    return impl_->finished;
}

}  // namespace sim
