// CMSIS-RTOS v2 API (version 2.1): the types and the calls the firmware uses.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef enum {
    osOK = 0,
    osError = -1,
    osErrorTimeout = -2,
    osErrorResource = -3,
    osErrorParameter = -4,
    osErrorNoMemory = -5,
    osErrorISR = -6,
    osStatusReserved = 0x7FFFFFFF
} osStatus_t;

typedef enum {
    osKernelInactive = 0,
    osKernelReady = 1,
    osKernelRunning = 2,
    osKernelLocked = 3,
    osKernelSuspended = 4,
    osKernelError = -1,
    osKernelReserved = 0x7FFFFFFF
} osKernelState_t;

typedef enum {
    osPriorityNone = 0,
    osPriorityIdle = 1,
    osPriorityLow = 8,
    osPriorityLow1 = 8 + 1,
    osPriorityLow2 = 8 + 2,
    osPriorityLow3 = 8 + 3,
    osPriorityLow4 = 8 + 4,
    osPriorityLow5 = 8 + 5,
    osPriorityLow6 = 8 + 6,
    osPriorityLow7 = 8 + 7,
    osPriorityBelowNormal = 16,
    osPriorityBelowNormal1 = 16 + 1,
    osPriorityBelowNormal2 = 16 + 2,
    osPriorityBelowNormal3 = 16 + 3,
    osPriorityBelowNormal4 = 16 + 4,
    osPriorityBelowNormal5 = 16 + 5,
    osPriorityBelowNormal6 = 16 + 6,
    osPriorityBelowNormal7 = 16 + 7,
    osPriorityNormal = 24,
    osPriorityNormal1 = 24 + 1,
    osPriorityNormal2 = 24 + 2,
    osPriorityNormal3 = 24 + 3,
    osPriorityNormal4 = 24 + 4,
    osPriorityNormal5 = 24 + 5,
    osPriorityNormal6 = 24 + 6,
    osPriorityNormal7 = 24 + 7,
    osPriorityAboveNormal = 32,
    osPriorityAboveNormal1 = 32 + 1,
    osPriorityAboveNormal2 = 32 + 2,
    osPriorityAboveNormal3 = 32 + 3,
    osPriorityAboveNormal4 = 32 + 4,
    osPriorityAboveNormal5 = 32 + 5,
    osPriorityAboveNormal6 = 32 + 6,
    osPriorityAboveNormal7 = 32 + 7,
    osPriorityHigh = 40,
    osPriorityHigh1 = 40 + 1,
    osPriorityHigh2 = 40 + 2,
    osPriorityHigh3 = 40 + 3,
    osPriorityHigh4 = 40 + 4,
    osPriorityHigh5 = 40 + 5,
    osPriorityHigh6 = 40 + 6,
    osPriorityHigh7 = 40 + 7,
    osPriorityRealtime = 48,
    osPriorityRealtime1 = 48 + 1,
    osPriorityRealtime2 = 48 + 2,
    osPriorityRealtime3 = 48 + 3,
    osPriorityRealtime4 = 48 + 4,
    osPriorityRealtime5 = 48 + 5,
    osPriorityRealtime6 = 48 + 6,
    osPriorityRealtime7 = 48 + 7,
    osPriorityISR = 56,
    osPriorityError = -1,
    osPriorityReserved = 0x7FFFFFFF
} osPriority_t;

typedef void (*osThreadFunc_t)(void* argument);
typedef void* osThreadId_t;
typedef void* osMessageQueueId_t;
typedef uint32_t TZ_ModuleId_t;

#define osWaitForever 0xFFFFFFFFU

#define osThreadDetached 0x00000000U
#define osThreadJoinable 0x00000001U

typedef struct {
    const char* name;
    uint32_t attr_bits;
    void* cb_mem;
    uint32_t cb_size;
    void* stack_mem;
    uint32_t stack_size;
    osPriority_t priority;
    TZ_ModuleId_t tz_module;
    uint32_t reserved;
} osThreadAttr_t;

typedef struct {
    const char* name;
    uint32_t attr_bits;
    void* cb_mem;
    uint32_t cb_size;
    void* mq_mem;
    uint32_t mq_size;
} osMessageQueueAttr_t;

/// First kernel call: osOK, or osError once the kernel is past initialisation.
osStatus_t osKernelInitialize(void);
/// Starts the scheduler; on success it does not return.
osStatus_t osKernelStart(void);
osKernelState_t osKernelGetState(void);
uint32_t osKernelGetTickCount(void);
uint32_t osKernelGetTickFreq(void);

/// NULL when the kernel heap cannot hold the control block and the stack, or
/// when called from an interrupt handler.
osThreadId_t osThreadNew(osThreadFunc_t func, void* argument, const osThreadAttr_t* attr);
const char* osThreadGetName(osThreadId_t thread_id);
osThreadId_t osThreadGetId(void);
osStatus_t osThreadYield(void);

/// Blocks the calling thread for `ticks` ticks; osErrorISR from a handler.
osStatus_t osDelay(uint32_t ticks);

/// NULL on a bad argument, in a handler, or when the kernel heap is full.
osMessageQueueId_t osMessageQueueNew(uint32_t msg_count, uint32_t msg_size,
                                     const osMessageQueueAttr_t* attr);
/// osOK when copied in; osErrorTimeout when still full after `timeout` ticks,
/// osErrorResource when full and `timeout` is 0, osErrorParameter on a bad
/// argument (or a non-zero timeout in a handler).
osStatus_t osMessageQueuePut(osMessageQueueId_t mq_id, const void* msg_ptr, uint8_t msg_prio,
                             uint32_t timeout);
/// osOK when a message was copied out; otherwise as for osMessageQueuePut.
osStatus_t osMessageQueueGet(osMessageQueueId_t mq_id, void* msg_ptr, uint8_t* msg_prio,
                             uint32_t timeout);
uint32_t osMessageQueueGetCapacity(osMessageQueueId_t mq_id);
uint32_t osMessageQueueGetMsgSize(osMessageQueueId_t mq_id);
uint32_t osMessageQueueGetCount(osMessageQueueId_t mq_id);
uint32_t osMessageQueueGetSpace(osMessageQueueId_t mq_id);
}
