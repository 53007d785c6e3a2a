// CMSIS-RTOS v2 calls and the kernel's own task calls, on the kernel stand-in.
#include "cmsis_os2.h"

#include "FreeRTOS.h"
#include "kernel.hpp"
#include "sim/board/board.hpp"
#include "sim/core/costs.hpp"
#include "task.h"

using sim::rtos::Kernel;
using sim::rtos::MessageQueue;
using sim::rtos::Thread;

namespace {
bool in_isr() {
    return sim::Board::get().cpu().in_handler();
}
}  // namespace

extern "C" {

osStatus_t osKernelInitialize(void) {
    if (in_isr()) {
        return osErrorISR;
    }
    return Kernel::get().initialize();
}

osStatus_t osKernelStart(void) {
    if (in_isr()) {
        return osErrorISR;
    }
    return Kernel::get().start();
}

osKernelState_t osKernelGetState(void) {
    return Kernel::get().state();
}

uint32_t osKernelGetTickCount(void) {
    return Kernel::get().tick_count();
}

uint32_t osKernelGetTickFreq(void) {
    return configTICK_RATE_HZ;
}

osThreadId_t osThreadNew(osThreadFunc_t func, void* argument, const osThreadAttr_t* attr) {
    return Kernel::get().create_thread(func, argument, attr);
}

const char* osThreadGetName(osThreadId_t thread_id) {
    return thread_id ? static_cast<Thread*>(thread_id)->name.c_str() : nullptr;
}

osThreadId_t osThreadGetId(void) {
    return Kernel::get().running();
}

osStatus_t osThreadYield(void) {
    if (in_isr()) {
        return osErrorISR;
    }
    Kernel::get().yield();
    return osOK;
}

osStatus_t osDelay(uint32_t ticks) {
    if (in_isr()) {
        return osErrorISR;
    }
    return ticks == 0 ? osOK : Kernel::get().delay(ticks);
}

osMessageQueueId_t osMessageQueueNew(uint32_t msg_count, uint32_t msg_size,
                                     const osMessageQueueAttr_t* attr) {
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
    return mq_id ? static_cast<MessageQueue*>(mq_id)->capacity : 0;
}

uint32_t osMessageQueueGetMsgSize(osMessageQueueId_t mq_id) {
    return mq_id ? static_cast<MessageQueue*>(mq_id)->msg_size : 0;
}

uint32_t osMessageQueueGetCount(osMessageQueueId_t mq_id) {
    return mq_id ? static_cast<uint32_t>(static_cast<MessageQueue*>(mq_id)->messages.size()) : 0;
}

uint32_t osMessageQueueGetSpace(osMessageQueueId_t mq_id) {
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
    return Kernel::get().tick_count();
}

size_t xPortGetFreeHeapSize(void) {
    const auto& heap = Kernel::get().heap();
    return heap.capacity - heap.used;
}
}
