// CMSIS-RTOS v2 calls and the kernel's own task calls, on the kernel stand-in.
#include "cmsis_os2.h"

#include "FreeRTOS.h"
#include "kernel.hpp"
#include "sim/core/chip.hpp"
#include "sim/core/costs.hpp"
#include "sim/platform.hpp"
#include "task.h"

using sim::rtos::Kernel;
using sim::rtos::MessageQueue;
using sim::rtos::Thread;

namespace {
// As the CMSIS-RTOS v2 layer decides it: a handler, or interrupts masked
// while the kernel runs, makes every call an interrupt-context call.
bool in_isr() {
    return Kernel::get().in_isr();
}

// Every call costs its cycles, queries included, so that a loop polling one
// lets the tick, interrupts and other threads happen.
void query() {
    sim::Chip::get().cpu().consume(sim::cost::kRtosQuery);
}
}  // namespace

extern "C" {

osStatus_t osKernelInitialize(void) {
    query();
    if (in_isr()) {
        return osErrorISR;
    }
    return Kernel::get().initialize();
}

osStatus_t osKernelStart(void) {
    if (in_isr()) {
        query();
        return osErrorISR;
    }
    return Kernel::get().start();
}

osKernelState_t osKernelGetState(void) {
    query();
    return Kernel::get().state();
}

uint32_t osKernelGetTickCount(void) {
    query();
    return Kernel::get().tick_count();
}

uint32_t osKernelGetTickFreq(void) {
    query();
    return configTICK_RATE_HZ;
}

osThreadId_t osThreadNew(osThreadFunc_t func, void* argument, const osThreadAttr_t* attr) {
    if (in_isr()) {
        query();
        return nullptr;
    }
    return Kernel::get().create_thread(func, argument, attr);
}

const char* osThreadGetName(osThreadId_t thread_id) {
    query();
    return thread_id ? static_cast<Thread*>(thread_id)->name.c_str() : nullptr;
}

osThreadId_t osThreadGetId(void) {
    query();
    return Kernel::get().running();
}

osStatus_t osThreadYield(void) {
    if (in_isr()) {
        query();
        return osErrorISR;
    }
    Kernel::get().yield();
    return osOK;
}

osStatus_t osDelay(uint32_t ticks) {
    if (in_isr() || ticks == 0) {
        query();
        return ticks == 0 ? osOK : osErrorISR;
    }
    return Kernel::get().delay(ticks);
}

osMessageQueueId_t osMessageQueueNew(uint32_t msg_count, uint32_t msg_size,
                                     const osMessageQueueAttr_t* attr) {
    if (in_isr()) {
        query();
        return nullptr;
    }
    if (attr != nullptr && (attr->cb_mem != nullptr || attr->mq_mem != nullptr)) {
        return nullptr;  // caller-supplied memory is not offered on this board
    }
    return Kernel::get().create_queue(msg_count, msg_size);
}

osStatus_t osMessageQueuePut(osMessageQueueId_t mq_id, const void* msg_ptr, uint8_t msg_prio,
                             uint32_t timeout) {
    (void)msg_prio;  // the kernel keeps plain FIFO order
    return Kernel::get().put(static_cast<MessageQueue*>(mq_id), msg_ptr, timeout);
}

osStatus_t osMessageQueueGet(osMessageQueueId_t mq_id, void* msg_ptr, uint8_t* msg_prio,
                             uint32_t timeout) {
    const osStatus_t status =
        Kernel::get().get(static_cast<MessageQueue*>(mq_id), msg_ptr, timeout);
    if (status == osOK && msg_prio != nullptr) {
        *msg_prio = 0;
    }
    return status;
}

uint32_t osMessageQueueGetCapacity(osMessageQueueId_t mq_id) {
    query();
    return mq_id ? static_cast<MessageQueue*>(mq_id)->capacity : 0;
}

uint32_t osMessageQueueGetMsgSize(osMessageQueueId_t mq_id) {
    query();
    return mq_id ? static_cast<MessageQueue*>(mq_id)->msg_size : 0;
}

uint32_t osMessageQueueGetCount(osMessageQueueId_t mq_id) {
    query();
    return mq_id ? static_cast<uint32_t>(static_cast<MessageQueue*>(mq_id)->messages.size()) : 0;
}

uint32_t osMessageQueueGetSpace(osMessageQueueId_t mq_id) {
    query();
    if (mq_id == nullptr) {
        return 0;
    }
    auto* q = static_cast<MessageQueue*>(mq_id);
    return q->capacity - static_cast<uint32_t>(q->messages.size());
}

void vTaskDelay(const TickType_t xTicksToDelay) {
    (void)Kernel::get().delay(xTicksToDelay);
}

TickType_t xTaskGetTickCount(void) {
    query();
    return Kernel::get().tick_count();
}

size_t xPortGetFreeHeapSize(void) {
    query();
    const auto& heap = Kernel::get().heap();
    return heap.capacity - heap.used;
}
}
