#include "kernel.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "FreeRTOS.h"
#include "sim/core/chip.hpp"
#include "sim/models/core_blocks.hpp"
#include "sim/core/costs.hpp"
#include "sim/platform.hpp"

namespace sim::rtos {

namespace {
constexpr int kSysTickIrq = SysTick::kIrqn;
constexpr uint8_t kKernelInterruptLevel = configLIBRARY_LOWEST_INTERRUPT_PRIORITY;
constexpr std::size_t kMaxNameChars = configMAX_TASK_NAME_LEN - 1;  // the kernel keeps 15

std::size_t round_up(std::size_t n, std::size_t a) {
    return (n + a - 1) / a * a;
}
}  // namespace

void ReadyList::remove(Thread* t) {
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        if (*it == t) {
            if (index_ == it) {
                index_ = it == items_.begin() ? items_.end() : std::prev(it);
            }
            items_.erase(it);
            return;
        }
    }
}

Thread* ReadyList::next() {
    if (items_.empty()) {
        return nullptr;
    }
    if (index_ == items_.end() || ++index_ == items_.end()) {
        index_ = items_.begin();
    }
    return *index_;
}

bool HeapModel::allocate(std::size_t bytes) {
    if (bytes == 0) {
        return false;
    }
    const std::size_t block = round_up(bytes + kBlockHeader, kAlignment);
    if (used + block > capacity) {
        return false;
    }
    used += block;
    return true;
}

// The debugger's thread commands (tools/gdb/gimbal_rtos.py) start here.
[[gnu::used]] Kernel* gimbal_rtos_kernel = nullptr;

Kernel& Kernel::get() {
    static Kernel* kernel = gimbal_rtos_kernel = new Kernel();  // lives as long as the process
    return *kernel;
}

Kernel::Kernel() : cpu_(Chip::get().cpu()) {
    // The heap's end marker takes one block header.
    heap_.capacity = configTOTAL_HEAP_SIZE - HeapModel::kBlockHeader;
    // 64-bit inside, so wake times order across the 32-bit count's wrap as
    // the kernel's overflow list orders them.
    ticks_ = kernel_settings().tick_start;
    cpu_.set_scheduler(this);
}

osStatus_t Kernel::initialize() {
    if (state_ != osKernelInactive) {
        return osError;
    }
    state_ = osKernelReady;
    return osOK;
}

osStatus_t Kernel::start() {
    if (state_ != osKernelReady) {
        return osError;
    }
    state_ = osKernelRunning;
    cpu_.consume(cost::kRtosCall);
    // SysTick and PendSV at the lowest level; the tick runs from here on.
    cpu_.set_vector(kSysTickIrq, &Kernel::systick_handler);
    cpu_.set_priority(kSysTickIrq, kKernelInterruptLevel);
    cpu_.set_priority(-2, kKernelInterruptLevel);
    cpu_.enable_irq(kSysTickIrq);
    // The tick as the kernel's Cortex-M4F port sets SysTick up: from
    // configCPU_CLOCK_HZ (SystemCoreClock), whatever the core really runs at.
    Bus& bus = Chip::get().bus();
    auto* systick = static_cast<uint32_t*>(Chip::get().model<SysTick>("SysTick").storage());
    bus.write(&systick[SysTick::CTRL / 4], 0);
    bus.write(&systick[SysTick::VAL / 4], 0);
    bus.write(&systick[SysTick::LOAD / 4], configCPU_CLOCK_HZ / configTICK_RATE_HZ - 1UL);
    bus.write(&systick[SysTick::CTRL / 4],
              SysTick::kClkSource | SysTick::kTickInt | SysTick::kEnable);
    cpu_.leave_startup();
}

void Kernel::systick_handler() {
    Kernel& k = get();
    k.cpu_.consume(cost::kKernelTick);
    k.tick();
}

bool Kernel::in_isr() const {
    return cpu_.in_handler() || (cpu_.primask() && state_ == osKernelRunning);
}

void Kernel::tick() {
    ticks_++;
    const int running = current_ != nullptr ? current_->priority : -1;
    while (!delayed_.empty() && std::get<0>(*delayed_.begin()) <= ticks_) {
        Thread* t = std::get<2>(*delayed_.begin());
        wake(t, osErrorTimeout);
        // From the tick, a woken thread of equal priority also takes its turn.
        if (t->priority >= running) {
            request_switch();
        }
    }
    // Time slicing: the running thread's peers get the next tick.
    if (current_ != nullptr && ready_[current_->priority].size() > 1) {
        request_switch();
    }
}

Thread* Kernel::create_thread(osThreadFunc_t func, void* argument, const osThreadAttr_t* attr) {
    cpu_.consume(cost::kRtosCreate);
    if (func == nullptr || cpu_.in_handler()) {
        return nullptr;
    }
    uint32_t stack_bytes = configMINIMAL_STACK_SIZE * sizeof(StackType_t);
    int priority = osPriorityNormal;
    const char* name = nullptr;
    if (attr != nullptr) {
        name = attr->name;
        if (attr->priority != osPriorityNone) {
            priority = attr->priority;
        }
        if (attr->stack_size > 0) {
            // Whole stack words, as the kernel counts them.
            stack_bytes = attr->stack_size / sizeof(StackType_t) * sizeof(StackType_t);
        }
        if (attr->cb_mem != nullptr || attr->stack_mem != nullptr) {
            return nullptr;  // caller-supplied memory is not offered on this board
        }
    }
    if (priority < osPriorityIdle || priority >= kPriorities || stack_bytes == 0) {
        return nullptr;
    }
    // Stack first, then the control block, as the kernel allocates them.
    const std::size_t before = heap_.used;
    if (!heap_.allocate(stack_bytes) || !heap_.allocate(HeapModel::kTaskControlBlock)) {
        heap_.used = before;
        return nullptr;
    }
    auto t = std::make_unique<Thread>();
    t->name = name ? std::string(name).substr(0, kMaxNameChars) : std::string();
    t->id = static_cast<int>(threads_.size());
    t->priority = priority;
    t->stack_size = stack_bytes;
    t->func = func;
    t->argument = argument;
    Thread* raw = t.get();
    t->fiber = std::make_unique<Fiber>(
        [this, raw] {
            raw->func(raw->argument);
            // A thread function must not return: the kernel stops the board.
            set_state(raw, Thread::State::Terminated);
            cpu_.set_primask(true);
            cpu_.halt(("thread " + raw->name + " returned").c_str());
        },
        Cpu::kHostStackBytes);
    threads_.push_back(std::move(t));
    probes().thread_created.emit(raw->id, raw->name, raw->priority);
    make_ready(raw);
    if (state_ != osKernelRunning) {
        // Before the start, the last created of the most urgent runs first.
        if (current_ == nullptr || raw->priority >= current_->priority) {
            current_ = raw;
        }
    } else if (current_ != nullptr && raw->priority > current_->priority) {
        request_switch();  // a more urgent new thread runs at once
        cpu_.consume(cost::kRtosCall);
    }
    return raw;
}

MessageQueue* Kernel::create_queue(uint32_t count, uint32_t size) {
    cpu_.consume(cost::kRtosCreate);
    if (count == 0 || size == 0 || cpu_.in_handler() || kernel_settings().queue_create_fails) {
        return nullptr;
    }
    const uint64_t storage = static_cast<uint64_t>(count) * size;
    if (storage > heap_.capacity || !heap_.allocate(HeapModel::kQueueControlBlock + storage)) {
        return nullptr;
    }
    auto q = std::make_unique<MessageQueue>();
    q->capacity = count;
    q->msg_size = size;
    q->id = static_cast<int>(queues_.size());
    probes().queue_created.emit(q->id, count, size);
    queues_.push_back(std::move(q));
    return queues_.back().get();
}

void Kernel::set_state(Thread* t, Thread::State state) {
    t->state = state;
    probes().thread_state.emit(t->id, static_cast<ThreadState>(state), cpu_.now());
}

void Kernel::make_ready(Thread* t) {
    if (t == current_ && t->state == Thread::State::Running) {
        return;  // blocked with interrupts masked and woken before it switched out
    }
    set_state(t, Thread::State::Ready);
    ready_[t->priority].insert_end(t);
    ready_mask_ |= uint64_t{1} << t->priority;
}

void Kernel::unready(Thread* t) {
    ready_[t->priority].remove(t);
    if (ready_[t->priority].empty()) {
        ready_mask_ &= ~(uint64_t{1} << t->priority);
    }
}

int Kernel::top_ready_priority() const {
    return ready_mask_ == 0 ? -1 : 63 - std::countl_zero(ready_mask_);
}

Fiber* Kernel::pick_next() {
    switch_pending_ = false;
    if (!started_) {
        started_ = true;  // the kernel's start runs the thread chosen at creation
    } else {
        const int p = top_ready_priority();
        current_ = p < 0 ? nullptr : ready_[p].next();
    }
    const int context = current_ != nullptr ? current_->id : kIdleThread;
    if (context != context_) {
        probes().thread_switch.emit(context_, context, cpu_.now());
        context_ = context;
    }
    if (current_ == nullptr) {
        settled_ = nullptr;
        return nullptr;
    }
    set_state(current_, Thread::State::Running);
    settled_ = current_->fiber.get();
    return settled_;
}

bool Kernel::should_yield(Fiber* running) {
    if (current_ == nullptr || current_->fiber.get() != running) {
        return top_ready_priority() >= 0;  // the idle loop gives way to any ready thread
    }
    return switch_pending_;
}

void Kernel::preempted(Fiber* running) {
    // The thread stays where it is in its ready list (or off it, if it blocked
    // while interrupts were masked); the next pick moves the index on.
    if (current_ != nullptr && current_->fiber.get() == running &&
        current_->state == Thread::State::Running) {
        set_state(current_, Thread::State::Ready);
    }
}

void Kernel::block_current(uint32_t timeout, Wait kind) {
    Thread* t = current_;
    unready(t);
    set_state(t, Thread::State::Blocked);
    t->timed = kind == Wait::ForTicks || timeout != osWaitForever;
    if (t->timed) {
        t->wake_tick = ticks_ + timeout;
        t->wait_seq = next_wait_seq_++;
        delayed_.insert({t->wake_tick, t->wait_seq, t});
    }
    request_switch();
    if (cpu_.primask()) {
        // PendSV waits for interrupts to be enabled: the thread runs on,
        // already blocked, until then.
        return;
    }
    current_ = nullptr;
    cpu_.switch_out();
}

void Kernel::wake(Thread* t, osStatus_t result) {
    if (t->queue != nullptr) {
        remove_waiter(t->queue->getters, t);
        remove_waiter(t->queue->putters, t);
        t->queue = nullptr;
    }
    if (t->timed) {
        // Woken early or on time: its timeout must not fire into a later wait.
        delayed_.erase({t->wake_tick, t->wait_seq, t});
        t->timed = false;
    }
    t->result = result;
    make_ready(t);
}

void Kernel::wake_by_call(Thread* t, osStatus_t result) {
    wake(t, result);
    // A call (or an interrupt) that readies a more urgent thread yields to it.
    if (current_ == nullptr || t->priority > current_->priority) {
        request_switch();
    }
    cpu_.consume(cost::kRtosCall);
}

void Kernel::enqueue_waiter(std::vector<Thread*>& list, Thread* t) {
    auto pos = std::find_if(list.begin(), list.end(),
                            [t](const Thread* w) { return w->priority < t->priority; });
    list.insert(pos, t);
}

void Kernel::remove_waiter(std::vector<Thread*>& list, Thread* t) {
    list.erase(std::remove(list.begin(), list.end(), t), list.end());
}

osStatus_t Kernel::delay(uint32_t ticks) {
    cpu_.consume(cost::kRtosCall);
    if (cpu_.in_handler()) {
        return osErrorISR;
    }
    if (state_ != osKernelRunning || current_ == nullptr) {
        return osError;
    }
    if (ticks == 0) {
        yield();
        return osOK;
    }
    // portMAX_DELAY here is a delay of that many ticks: only waits on an
    // object can last for ever.
    block_current(ticks, Wait::ForTicks);
    return osOK;
}

void Kernel::yield() {
    // The switch takes the next thread round at the top priority: a peer if
    // there is one, otherwise this thread again.
    if (current_ != nullptr) {
        request_switch();
    }
    cpu_.consume(cost::kRtosCall);
}

// What a call did, for the probes, once it returns (after its wait, if any).
namespace {
QueueOp queue_op(const MessageQueue* q, const Thread* caller, const void* msg, osStatus_t status,
                 uint64_t number, Picos at) {
    return QueueOp{q->id,
                   caller != nullptr ? caller->id : kIdleThread,
                   number,
                   status == osOK,
                   status == osErrorTimeout,
                   static_cast<uint32_t>(q->messages.size()),
                   msg,
                   q->msg_size,
                   at};
}
}  // namespace

osStatus_t Kernel::put(MessageQueue* q, const void* msg, uint32_t timeout) {
    Thread* caller = cpu_.in_handler() ? nullptr : current_;
    uint64_t number = 0;
    const osStatus_t status = put_message(q, msg, timeout, number);
    if (probes().queue_put.observed() && q != nullptr && msg != nullptr) {
        probes().queue_put.emit(queue_op(q, caller, msg, status, number, cpu_.now()));
    }
    return status;
}

osStatus_t Kernel::get(MessageQueue* q, void* msg, uint32_t timeout) {
    Thread* caller = cpu_.in_handler() ? nullptr : current_;
    uint64_t number = 0;
    const osStatus_t status = get_message(q, msg, timeout, number);
    if (probes().queue_get.observed() && q != nullptr && msg != nullptr) {
        probes().queue_get.emit(queue_op(q, caller, msg, status, number, cpu_.now()));
    }
    return status;
}

osStatus_t Kernel::put_message(MessageQueue* q, const void* msg, uint32_t timeout,
                               uint64_t& number) {
    cpu_.consume(cost::kRtosCall);
    const bool isr = in_isr();
    if (q == nullptr || msg == nullptr || (isr && timeout != 0)) {
        return osErrorParameter;
    }
    if (!q->getters.empty()) {
        // Straight into the buffer of the most urgent waiting reader.
        Thread* reader = q->getters.front();
        std::memcpy(reader->get_buffer, msg, q->msg_size);
        number = reader->handed = ++q->queued;
        wake_by_call(reader, osOK);
        return osOK;
    }
    if (q->messages.size() < q->capacity) {
        const auto* bytes = static_cast<const uint8_t*>(msg);
        q->messages.emplace_back(bytes, bytes + q->msg_size);
        number = ++q->queued;
        q->numbers.push_back(number);
        return osOK;
    }
    if (timeout == 0 || isr || current_ == nullptr) {
        return osErrorResource;
    }
    Thread* self = current_;
    self->queue = q;
    self->put_buffer = msg;
    self->handed = 0;
    enqueue_waiter(q->putters, self);
    block_current(timeout, Wait::UpToTimeout);
    number = self->handed;
    return self->result;
}

osStatus_t Kernel::get_message(MessageQueue* q, void* msg, uint32_t timeout, uint64_t& number) {
    cpu_.consume(cost::kRtosCall);
    const bool isr = in_isr();
    if (q == nullptr || msg == nullptr || (isr && timeout != 0)) {
        return osErrorParameter;
    }
    if (!q->messages.empty()) {
        std::memcpy(msg, q->messages.front().data(), q->msg_size);
        q->messages.pop_front();
        number = q->numbers.front();
        q->numbers.pop_front();
        if (!q->putters.empty()) {
            // The freed slot goes to the most urgent waiting writer.
            Thread* writer = q->putters.front();
            const auto* bytes = static_cast<const uint8_t*>(writer->put_buffer);
            q->messages.emplace_back(bytes, bytes + q->msg_size);
            writer->handed = ++q->queued;
            q->numbers.push_back(writer->handed);
            wake_by_call(writer, osOK);
        }
        return osOK;
    }
    if (timeout == 0 || isr || current_ == nullptr) {
        return osErrorResource;
    }
    Thread* self = current_;
    self->queue = q;
    self->get_buffer = msg;
    self->handed = 0;
    enqueue_waiter(q->getters, self);
    block_current(timeout, Wait::UpToTimeout);
    number = self->handed;
    return self->result;
}

}  // namespace sim::rtos

namespace sim {

namespace {
KernelSettings g_kernel_settings;  // read at the kernel's creation and at each queue's
}  // namespace

void set_kernel_settings(const KernelSettings& settings) {
    g_kernel_settings = settings;
}

const KernelSettings& kernel_settings() {
    return g_kernel_settings;
}

std::vector<ThreadInfo> created_threads() {
    std::vector<ThreadInfo> out;
    for (const auto& t : rtos::Kernel::get().threads()) {
        ThreadInfo info{t->name, t->priority, t->stack_size, false, std::nullopt};
        info.blocked = t->state == rtos::Thread::State::Blocked;
        if (info.blocked && t->timed) {
            info.wake_tick = t->wake_tick;
        }
        out.push_back(info);
    }
    return out;
}

std::size_t kernel_heap_used() {
    return rtos::Kernel::get().heap().used;
}

std::size_t kernel_heap_size() {
    return configTOTAL_HEAP_SIZE;
}

std::string running_context() {
    const rtos::Kernel& k = rtos::Kernel::get();
    if (Chip::get().cpu().in_handler()) {
        return "an interrupt handler";
    }
    if (k.state() != osKernelRunning) {
        return "start-up code";
    }
    return k.running() != nullptr ? "thread " + k.running()->name : "idle";
}

uint32_t kernel_ticks() {
    return rtos::Kernel::get().tick_count();
}

}  // namespace sim
