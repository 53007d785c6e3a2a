#include "sim/arm/bridges.hpp"

#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <unordered_map>

#include "FreeRTOS.h"
#include "cmsis_os2.h"
#include "sim/core/fiber.hpp"
#include "sim/platform.hpp"
#include "stm32f4xx_hal.h"
#include "task.h"

namespace sim::arm {

namespace {

using Call = Machine::Call;

/// The host's record of each of the image's handles of one type, found both
/// ways. A handle is loaded from the image when the outermost call on it
/// begins and stored back whenever one ends, so a call nested in another
/// (an interrupt's) sees the outer call's state, and the image sees the
/// state its HAL would have left.
template <class H>
class Shadows {
  public:
    H* enter(const Layouts& layouts, uint32_t guest) {
        if (guest == 0) {
            return nullptr;
        }
        Entry& e = by_guest_[guest];
        if (!e.host) {
            e.host = std::make_unique<H>();  // zeroed: the HAL's reset state
            guest_of_[e.host.get()] = guest;
        }
        if (e.depth++ == 0) {
            layouts.load(guest, *e.host);
        }
        return e.host.get();
    }
    void leave(const Layouts& layouts, H* host) {
        if (host != nullptr) {
            const uint32_t guest = guest_of_.at(host);
            --by_guest_[guest].depth;
            layouts.store(*host, guest);
        }
    }
    uint32_t guest(const H* host) const {
        const auto it = guest_of_.find(host);
        return it == guest_of_.end() ? 0 : it->second;
    }

  private:
    struct Entry {
        std::unique_ptr<H> host;
        int depth = 0;
    };
    std::unordered_map<uint32_t, Entry> by_guest_;
    std::unordered_map<const H*, uint32_t> guest_of_;
};

struct GuestThread {
    uint32_t entry, argument, stack_pointer;
    std::string name;
    uint32_t stack_base, stack_bytes;
    const Fiber* fiber = nullptr;
    uint32_t reent = 0;  // newlib's per-thread state in its control block
};
// The kernel's stack fill (tskSTACK_FILL_BYTE), from which its high-water
// mark is read.
constexpr uint8_t kStackFill = 0xA5;
// A stack has overflowed once its lowest four words are no longer the fill
// (or its stack pointer is below them): a chosen margin, which sees a frame
// that ran past the end without writing every word of it.
constexpr uint32_t kStackGuardBytes = 16;
// newlib nano's per-thread state (configUSE_NEWLIB_REENTRANT) in the task
// control block as the kernel stand-in accounts it: after the first 84
// bytes, 96 of them (docs/design.md, "Kernel heap").
constexpr uint32_t kReentOffset = 84, kReentBytes = 96;

struct State {
    Machine& m;
    const Layouts& layouts;
    BridgeOptions options;
    Shadows<UART_HandleTypeDef> uarts;
    Shadows<I2C_HandleTypeDef> i2cs;
    Shadows<CAN_HandleTypeDef> cans;
    Shadows<TIM_HandleTypeDef> tims;
    uint32_t heap = 0;  // the image's ucHeap
    std::unordered_map<uint32_t, std::pair<osMessageQueueId_t, uint32_t>> queues;  // size
    std::deque<GuestThread> threads;
    std::unordered_map<const Fiber*, const GuestThread*> by_fiber;
    bool kernel_started = false;
    std::set<std::string> stack_threads_seen;
    // _impure_ptr and the streams a fresh _reent starts with (_REENT_SMALL's
    // _REENT_INIT_PTR: zeroed, then stdin, stdout and stderr at 4, 8 and 12
    // pointing at newlib's fake streams); 0: an image without stdio.
    uint32_t impure_ptr = 0, fake_streams[3] = {0, 0, 0};
};
State* g_state = nullptr;

// GPIO ports A to I (RM0090, "Memory map").
constexpr uint32_t kGpioFirst = 0x40020000, kGpioEnd = 0x40022400;
// The kernel's heap blocks: an 8-byte header, whole multiples of 8
// (docs/design.md, "Kernel heap").
constexpr uint32_t kBlockHeader = 8;
uint32_t block_bytes(uint32_t bytes) {
    return (bytes + kBlockHeader + 7U) / 8U * 8U;
}

/// The firmware's function of that name, 0 when the image leaves it out.
uint32_t firmware(const char* name) {
    const auto it = g_state->m.image().symbols.find(name);
    return it == g_state->m.image().symbols.end() ? 0 : it->second;
}

GPIO_TypeDef* port(uint32_t address) {
    if (address < kGpioFirst || address + sizeof(GPIO_TypeDef) > kGpioEnd) {
        g_state->m.halt("a GPIO call on " + std::to_string(address) + ", not a GPIO port");
    }
    return reinterpret_cast<GPIO_TypeDef*>(uintptr_t{address});
}

template <class T>
T* at(const Call& c, unsigned index, uint32_t size, const char* what) {
    return static_cast<T*>(g_state->m.host(c.arg(index), size, what));
}

/// A call on one of the image's handles (its first argument).
template <class H, class F>
Machine::Handler on(Shadows<H>& shadows, F f) {
    return [&shadows, f](Machine&, const Call& c) -> uint32_t {
        H* h = shadows.enter(g_state->layouts, c.r[0]);
        const uint32_t result = f(h, c);
        shadows.leave(g_state->layouts, h);
        return result;
    };
}

/// A record the call reads (and may write) through its argument `index`.
template <class T, class F>
uint32_t with_record(const Call& c, unsigned index, F f) {
    const uint32_t guest = c.arg(index);
    if (guest == 0) {
        return f(static_cast<T*>(nullptr));
    }
    T host{};
    g_state->layouts.load(guest, host);
    const uint32_t result = f(&host);
    g_state->layouts.store(host, guest);
    return result;
}

/// A callback of the host HAL into the firmware with the image's handle.
template <class H>
void forward(const char* name, Shadows<H>& shadows, H* host) {
    const uint32_t function = firmware(name);
    const uint32_t guest = shadows.guest(host);
    if (function == 0 || guest == 0) {
        return;  // the image keeps the HAL's empty default
    }
    g_state->layouts.store(*host, guest);
    g_state->m.callback(function, {guest});
    g_state->layouts.load(guest, *host);
}

void run_thread(void* record) {
    auto* t = static_cast<GuestThread*>(record);
    t->fiber = Fiber::current();
    g_state->by_fiber[t->fiber] = t;
    g_state->m.call(t->entry, {t->argument}, t->stack_pointer, false);
}

void serve_hal(std::map<std::string, Machine::Handler>& s, State& st) {
    s["HAL_Init"] = [](Machine&, const Call&) { return uint32_t{HAL_Init()}; };
    s["HAL_GetTick"] = [](Machine&, const Call&) { return HAL_GetTick(); };
    s["HAL_IncTick"] = [](Machine&, const Call&) {
        HAL_IncTick();
        return 0U;
    };
    // IRQn_Type: a signed number, widened to a word by the caller (AAPCS).
    s["HAL_NVIC_SetPriority"] = [](Machine&, const Call& c) {
        HAL_NVIC_SetPriority(static_cast<IRQn_Type>(static_cast<int32_t>(c.r[0])), c.r[1], c.r[2]);
        return 0U;
    };
    s["HAL_NVIC_EnableIRQ"] = [](Machine&, const Call& c) {
        HAL_NVIC_EnableIRQ(static_cast<IRQn_Type>(static_cast<int32_t>(c.r[0])));
        return 0U;
    };
    s["HAL_RCC_OscConfig"] = [](Machine&, const Call& c) {
        return with_record<RCC_OscInitTypeDef>(
            c, 0, [](RCC_OscInitTypeDef* o) { return uint32_t{HAL_RCC_OscConfig(o)}; });
    };
    s["HAL_RCC_ClockConfig"] = [](Machine&, const Call& c) {
        return with_record<RCC_ClkInitTypeDef>(
            c, 0, [&c](RCC_ClkInitTypeDef* k) { return uint32_t{HAL_RCC_ClockConfig(k, c.r[1])}; });
    };
    s["HAL_RCC_GetPCLK2Freq"] = [](Machine&, const Call&) { return HAL_RCC_GetPCLK2Freq(); };
    s["HAL_GPIO_Init"] = [](Machine&, const Call& c) {
        return with_record<GPIO_InitTypeDef>(c, 1, [&c](GPIO_InitTypeDef* i) {
            HAL_GPIO_Init(port(c.r[0]), i);
            return 0U;
        });
    };
    s["HAL_GPIO_DeInit"] = [](Machine&, const Call& c) {
        HAL_GPIO_DeInit(port(c.r[0]), c.r[1]);
        return 0U;
    };
    s["HAL_GPIO_ReadPin"] = [](Machine&, const Call& c) {
        return uint32_t{HAL_GPIO_ReadPin(port(c.r[0]), static_cast<uint16_t>(c.r[1]))};
    };
    s["HAL_GPIO_WritePin"] = [](Machine&, const Call& c) {
        HAL_GPIO_WritePin(port(c.r[0]), static_cast<uint16_t>(c.r[1]),
                          static_cast<GPIO_PinState>(c.r[2]));
        return 0U;
    };
    s["HAL_GPIO_TogglePin"] = [](Machine&, const Call& c) {
        HAL_GPIO_TogglePin(port(c.r[0]), static_cast<uint16_t>(c.r[1]));
        return 0U;
    };
    s["HAL_TIM_Base_Init"] = on(
        st.tims, [](TIM_HandleTypeDef* h, const Call&) { return uint32_t{HAL_TIM_Base_Init(h)}; });
    s["HAL_TIM_Base_Start_IT"] = on(st.tims, [](TIM_HandleTypeDef* h, const Call&) {
        return uint32_t{HAL_TIM_Base_Start_IT(h)};
    });
    s["HAL_TIM_IRQHandler"] = on(st.tims, [](TIM_HandleTypeDef* h, const Call&) {
        HAL_TIM_IRQHandler(h);
        return 0U;
    });
    s["HAL_UART_Init"] =
        on(st.uarts, [](UART_HandleTypeDef* h, const Call&) { return uint32_t{HAL_UART_Init(h)}; });
    s["HAL_UART_DeInit"] = on(
        st.uarts, [](UART_HandleTypeDef* h, const Call&) { return uint32_t{HAL_UART_DeInit(h)}; });
    s["HAL_UART_Transmit"] = on(st.uarts, [](UART_HandleTypeDef* h, const Call& c) {
        const auto size = static_cast<uint16_t>(c.r[2]);
        return uint32_t{
            HAL_UART_Transmit(h, at<const uint8_t>(c, 1, size, "HAL_UART_Transmit"), size, c.r[3])};
    });
    s["HAL_UART_Receive"] = on(st.uarts, [](UART_HandleTypeDef* h, const Call& c) {
        const auto size = static_cast<uint16_t>(c.r[2]);
        return uint32_t{
            HAL_UART_Receive(h, at<uint8_t>(c, 1, size, "HAL_UART_Receive"), size, c.r[3])};
    });
    s["HAL_UART_Abort"] = on(
        st.uarts, [](UART_HandleTypeDef* h, const Call&) { return uint32_t{HAL_UART_Abort(h)}; });
    s["HAL_I2C_Init"] =
        on(st.i2cs, [](I2C_HandleTypeDef* h, const Call&) { return uint32_t{HAL_I2C_Init(h)}; });
    s["HAL_I2C_Master_Transmit"] = on(st.i2cs, [](I2C_HandleTypeDef* h, const Call& c) {
        const auto size = static_cast<uint16_t>(c.r[3]);
        return uint32_t{HAL_I2C_Master_Transmit(h, static_cast<uint16_t>(c.r[1]),
                                                at<uint8_t>(c, 2, size, "HAL_I2C_Master_Transmit"),
                                                size, c.arg(4))};
    });
    s["HAL_I2C_Master_Receive"] = on(st.i2cs, [](I2C_HandleTypeDef* h, const Call& c) {
        const auto size = static_cast<uint16_t>(c.r[3]);
        return uint32_t{HAL_I2C_Master_Receive(h, static_cast<uint16_t>(c.r[1]),
                                               at<uint8_t>(c, 2, size, "HAL_I2C_Master_Receive"),
                                               size, c.arg(4))};
    });
    s["HAL_I2C_Mem_Write"] = on(st.i2cs, [](I2C_HandleTypeDef* h, const Call& c) {
        const auto size = static_cast<uint16_t>(c.arg(5));
        return uint32_t{
            HAL_I2C_Mem_Write(h, static_cast<uint16_t>(c.r[1]), static_cast<uint16_t>(c.r[2]),
                              static_cast<uint16_t>(c.r[3]),
                              at<uint8_t>(c, 4, size, "HAL_I2C_Mem_Write"), size, c.arg(6))};
    });
    s["HAL_I2C_Mem_Read"] = on(st.i2cs, [](I2C_HandleTypeDef* h, const Call& c) {
        const auto size = static_cast<uint16_t>(c.arg(5));
        return uint32_t{
            HAL_I2C_Mem_Read(h, static_cast<uint16_t>(c.r[1]), static_cast<uint16_t>(c.r[2]),
                             static_cast<uint16_t>(c.r[3]),
                             at<uint8_t>(c, 4, size, "HAL_I2C_Mem_Read"), size, c.arg(6))};
    });
    s["HAL_I2C_EV_IRQHandler"] = on(st.i2cs, [](I2C_HandleTypeDef* h, const Call&) {
        HAL_I2C_EV_IRQHandler(h);
        return 0U;
    });
    s["HAL_CAN_Init"] =
        on(st.cans, [](CAN_HandleTypeDef* h, const Call&) { return uint32_t{HAL_CAN_Init(h)}; });
    s["HAL_CAN_ConfigFilter"] = on(st.cans, [](CAN_HandleTypeDef* h, const Call& c) {
        return with_record<CAN_FilterTypeDef>(
            c, 1, [h](CAN_FilterTypeDef* f) { return uint32_t{HAL_CAN_ConfigFilter(h, f)}; });
    });
    s["HAL_CAN_Start"] =
        on(st.cans, [](CAN_HandleTypeDef* h, const Call&) { return uint32_t{HAL_CAN_Start(h)}; });
    s["HAL_CAN_AddTxMessage"] = on(st.cans, [](CAN_HandleTypeDef* h, const Call& c) {
        return with_record<CAN_TxHeaderTypeDef>(c, 1, [h, &c](CAN_TxHeaderTypeDef* header) {
            return uint32_t{HAL_CAN_AddTxMessage(h, header,
                                                 at<const uint8_t>(c, 2, 8, "HAL_CAN_AddTxMessage"),
                                                 at<uint32_t>(c, 3, 4, "HAL_CAN_AddTxMessage"))};
        });
    });
    s["HAL_CAN_IsTxMessagePending"] = on(st.cans, [](CAN_HandleTypeDef* h, const Call& c) {
        return HAL_CAN_IsTxMessagePending(h, c.r[1]);
    });
    s["HAL_CAN_GetRxFifoFillLevel"] = on(st.cans, [](CAN_HandleTypeDef* h, const Call& c) {
        return HAL_CAN_GetRxFifoFillLevel(h, c.r[1]);
    });
    s["HAL_CAN_GetRxMessage"] = on(st.cans, [](CAN_HandleTypeDef* h, const Call& c) {
        return with_record<CAN_RxHeaderTypeDef>(c, 2, [h, &c](CAN_RxHeaderTypeDef* header) {
            return uint32_t{HAL_CAN_GetRxMessage(h, c.r[1], header,
                                                 at<uint8_t>(c, 3, 8, "HAL_CAN_GetRxMessage"))};
        });
    });
}

void serve_kernel(std::map<std::string, Machine::Handler>& s) {
    s["osKernelInitialize"] = [](Machine&, const Call&) {
        return static_cast<uint32_t>(osKernelInitialize());
    };
    s["osKernelStart"] = [](Machine& m, const Call&) {
        g_state->kernel_started = true;
        if (g_state->options.stop_at_kernel_start) {
            m.halt("osKernelStart");
        }
        return static_cast<uint32_t>(osKernelStart());
    };
    // The kernel stand-in creates the thread; its stack and control block
    // are the image's, in ucHeap where the kernel's heap would put them:
    // the stack first, then the control block, after the blocks before.
    s["osThreadNew"] = [](Machine& m, const Call& c) -> uint32_t {
        osThreadAttr_t attr{};
        if (c.r[2] != 0) {
            g_state->layouts.load(c.r[2], attr);
        }
        const auto name = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(attr.name));
        const std::string thread = m.string(name, configMAX_TASK_NAME_LEN - 1);
        const auto shrunk = g_state->options.stack_bytes.find(thread);
        if (shrunk != g_state->options.stack_bytes.end()) {
            attr.stack_size = shrunk->second;
            g_state->stack_threads_seen.insert(thread);
        }
        const uint32_t stack = c.r[2] != 0 && attr.stack_size > 0
                                   ? attr.stack_size / sizeof(StackType_t) * sizeof(StackType_t)
                                   : configMINIMAL_STACK_SIZE * sizeof(StackType_t);
        const uint32_t block = g_state->heap + static_cast<uint32_t>(kernel_heap_used());
        // The kernel's port starts a thread with its stack pointer at the
        // stack's last word, down to 8 bytes (portBYTE_ALIGNMENT).
        const uint32_t base = block + kBlockHeader;
        g_state->threads.push_back({c.r[0], c.r[1], (base + stack - 4) & ~7U, thread, base, stack});
        // Beyond the image's memory only if the kernel's heap cannot hold
        // it, and then the kernel refuses the thread.
        if (m.memory(base, stack)) {
            std::memset(reinterpret_cast<void*>(uintptr_t{base}), kStackFill, stack);
        }
        const osThreadId_t id =
            osThreadNew(&run_thread, &g_state->threads.back(), c.r[2] != 0 ? &attr : nullptr);
        if (id == nullptr) {
            g_state->threads.pop_back();
            return 0U;
        }
        const uint32_t tcb = block + block_bytes(stack) + kBlockHeader;
        if (g_state->impure_ptr != 0 && m.memory(tcb + kReentOffset, kReentBytes)) {
            const uint32_t reent = tcb + kReentOffset;
            std::memset(reinterpret_cast<void*>(uintptr_t{reent}), 0, kReentBytes);
            for (uint32_t i = 0; i < 3; ++i) {
                m.write32(reent + 4 + 4 * i, g_state->fake_streams[i]);
            }
            g_state->threads.back().reent = reent;
        }
        return tcb;
    };
    s["osDelay"] = [](Machine&, const Call& c) { return static_cast<uint32_t>(osDelay(c.r[0])); };
    s["vTaskDelay"] = [](Machine&, const Call& c) {
        vTaskDelay(c.r[0]);
        return 0U;
    };
    s["osMessageQueueNew"] = [](Machine&, const Call& c) -> uint32_t {
        osMessageQueueAttr_t attr{};
        if (c.r[2] != 0) {
            g_state->layouts.load(c.r[2], attr);
        }
        const uint32_t block = g_state->heap + static_cast<uint32_t>(kernel_heap_used());
        const osMessageQueueId_t q =
            osMessageQueueNew(c.r[0], c.r[1], c.r[2] != 0 ? &attr : nullptr);
        if (q == nullptr) {
            return 0;
        }
        g_state->queues[block + kBlockHeader] = {q, c.r[1]};
        return block + kBlockHeader;
    };
    s["osMessageQueuePut"] = [](Machine& m, const Call& c) {
        const auto it = g_state->queues.find(c.r[0]);
        if (it == g_state->queues.end()) {
            return static_cast<uint32_t>(osMessageQueuePut(nullptr, nullptr, 0, c.r[3]));
        }
        const void* msg = m.host(c.r[1], it->second.second, "osMessageQueuePut");
        return static_cast<uint32_t>(
            osMessageQueuePut(it->second.first, msg, static_cast<uint8_t>(c.r[2]), c.r[3]));
    };
    s["osMessageQueueGet"] = [](Machine& m, const Call& c) {
        const auto it = g_state->queues.find(c.r[0]);
        if (it == g_state->queues.end()) {
            return static_cast<uint32_t>(osMessageQueueGet(nullptr, nullptr, nullptr, c.r[3]));
        }
        void* msg = m.host(c.r[1], it->second.second, "osMessageQueueGet");
        auto* prio = static_cast<uint8_t*>(m.host(c.r[2], 1, "osMessageQueueGet"));
        return static_cast<uint32_t>(osMessageQueueGet(it->second.first, msg, prio, c.r[3]));
    };
}

struct Bridge {
    uint32_t number;
    const char* name;
};
#define GIMBAL_BRIDGE(number, name) {number, #name},
#define GIMBAL_BRIDGE_DATA(type, name, reset)
#define GIMBAL_BRIDGE_CALLBACK(bridge, name)
constexpr Bridge kBridges[] = {
#include "bridges.def"
};
#undef GIMBAL_BRIDGE
#undef GIMBAL_BRIDGE_DATA
#undef GIMBAL_BRIDGE_CALLBACK

}  // namespace

void serve_bridges(Machine& machine, const Layouts& layouts, const BridgeOptions& options) {
    g_state = new State{machine, layouts, options, {}, {}, {}, {}, 0, {}, {}, {}, false, {}};
    g_state->heap = machine.image().symbol("ucHeap");
    // One value on both sides: the core clock the HAL sets and the firmware
    // reads, and the time base's priority.
    machine.share(&SystemCoreClock, machine.image().symbol("SystemCoreClock"));
    machine.share(&uwTickPrio, machine.image().symbol("uwTickPrio"));
    const auto& symbols = machine.image().symbols;
    if (symbols.count("_impure_ptr") != 0 && symbols.count("__sf_fake_stdin") != 0) {
        g_state->impure_ptr = symbols.at("_impure_ptr");
        int i = 0;
        for (const char* stream : {"__sf_fake_stdin", "__sf_fake_stdout", "__sf_fake_stderr"}) {
            g_state->fake_streams[i++] = machine.image().symbol(stream);
        }
    }
    // As the kernel's switch does: the thread that runs has its own _reent
    // (set again only when another thread has run).
    machine.on_thread_run([](Machine& m) {
        static const Fiber* last = nullptr;
        if (Fiber::current() == last) {
            return;
        }
        last = Fiber::current();
        const auto it = g_state->by_fiber.find(last);
        if (it != g_state->by_fiber.end() && it->second->reent != 0) {
            m.write32(g_state->impure_ptr, it->second->reent);
        }
    });
    machine.check_threads([](Machine& m, const Call& c) {
        const auto it = g_state->by_fiber.find(Fiber::current());
        if (it == g_state->by_fiber.end()) {
            return;
        }
        const GuestThread& t = *it->second;
        const auto* low = reinterpret_cast<const uint8_t*>(uintptr_t{t.stack_base});
        bool painted = c.sp >= t.stack_base + kStackGuardBytes;
        for (uint32_t i = 0; painted && i < kStackGuardBytes; ++i) {
            painted = low[i] == kStackFill;
        }
        if (!painted) {
            m.halt("stack overflow: thread " + t.name + " (" + std::to_string(t.stack_bytes) +
                   " bytes)");
        }
    });
    std::map<std::string, Machine::Handler> served;
    serve_hal(served, *g_state);
    serve_kernel(served);
    for (const Bridge& b : kBridges) {
        const std::string name = b.name;
        const auto it = served.find(name);
        machine.serve(
            b.number, name,
            it != served.end() ? it->second : [name](Machine& m, const Call&) -> uint32_t {
                m.halt(name + ": not served on the ARM image yet");
            });
    }
}

std::vector<StackUse> stack_use() {
    std::vector<StackUse> out;
    for (const GuestThread& t : g_state != nullptr ? g_state->threads : std::deque<GuestThread>{}) {
        const auto* stack = reinterpret_cast<const uint8_t*>(uintptr_t{t.stack_base});
        uint32_t untouched = 0;
        while (untouched < t.stack_bytes && stack[untouched] == kStackFill) {
            ++untouched;
        }
        const Machine::ThreadCount n = g_state->m.counted_on(t.fiber);
        out.push_back({t.name, t.stack_bytes, t.stack_bytes - untouched, n.instructions, n.cycles});
    }
    return out;
}

std::vector<std::string> unknown_stack_threads() {
    std::vector<std::string> out;
    if (g_state == nullptr) {
        return out;
    }
    for (const auto& [name, bytes] : g_state->options.stack_bytes) {
        if (g_state->stack_threads_seen.count(name) == 0) {
            out.push_back(name);
        }
    }
    return out;
}

bool kernel_start_reached() {
    return g_state != nullptr && g_state->kernel_started;
}

}  // namespace sim::arm

// The HAL's callbacks into the firmware (bridges.def): the host HAL calls
// these in place of its weak defaults, and each runs the image's own.
using sim::arm::g_state;

extern "C" {

HAL_StatusTypeDef HAL_InitTick(uint32_t TickPriority) {
    const uint32_t function = sim::arm::firmware("HAL_InitTick");
    return function != 0
               ? static_cast<HAL_StatusTypeDef>(g_state->m.callback(function, {TickPriority}))
               : HAL_ERROR;
}

void HAL_MspInit(void) {
    if (const uint32_t function = sim::arm::firmware("HAL_MspInit")) {
        g_state->m.callback(function, {});
    }
}

void HAL_TIM_Base_MspInit(TIM_HandleTypeDef* htim) {
    sim::arm::forward("HAL_TIM_Base_MspInit", g_state->tims, htim);
}
void HAL_TIM_PeriodElapsedCallback(TIM_HandleTypeDef* htim) {
    sim::arm::forward("HAL_TIM_PeriodElapsedCallback", g_state->tims, htim);
}
void HAL_UART_MspInit(UART_HandleTypeDef* huart) {
    sim::arm::forward("HAL_UART_MspInit", g_state->uarts, huart);
}
void HAL_UART_MspDeInit(UART_HandleTypeDef* huart) {
    sim::arm::forward("HAL_UART_MspDeInit", g_state->uarts, huart);
}
void HAL_I2C_MspInit(I2C_HandleTypeDef* hi2c) {
    sim::arm::forward("HAL_I2C_MspInit", g_state->i2cs, hi2c);
}
void HAL_CAN_MspInit(CAN_HandleTypeDef* hcan) {
    sim::arm::forward("HAL_CAN_MspInit", g_state->cans, hcan);
}
}
