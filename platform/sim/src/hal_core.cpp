// HAL core: initialisation, the millisecond tick and delays.
#include "hal_internal.hpp"

using namespace sim::hal;

extern "C" {

__IO uint32_t uwTick;
uint32_t uwTickPrio = (1UL << __NVIC_PRIO_BITS);  // invalid until a time base is set up
HAL_TickFreqTypeDef uwTickFreq = HAL_TICK_FREQ_DEFAULT;

// Core clock until the firmware's own definition takes over.
__attribute__((weak)) uint32_t SystemCoreClock = 16000000;

HAL_StatusTypeDef HAL_Init(void) {
    enter();
    if (PREFETCH_ENABLE) {
        __HAL_FLASH_PREFETCH_BUFFER_ENABLE();
    }
    if (INSTRUCTION_CACHE_ENABLE) {
        __HAL_FLASH_INSTRUCTION_CACHE_ENABLE();
    }
    if (DATA_CACHE_ENABLE) {
        __HAL_FLASH_DATA_CACHE_ENABLE();
    }
    HAL_NVIC_SetPriorityGrouping(NVIC_PRIORITYGROUP_4);
    HAL_InitTick(TICK_INT_PRIORITY);
    HAL_MspInit();
    return HAL_OK;
}

HAL_StatusTypeDef HAL_DeInit(void) {
    enter();
    HAL_MspDeInit();
    return HAL_OK;
}

__attribute__((weak)) void HAL_MspInit(void) {}
__attribute__((weak)) void HAL_MspDeInit(void) {}

// Without a board time base the HAL has no tick: the board's own file
// provides HAL_InitTick.
__attribute__((weak)) HAL_StatusTypeDef HAL_InitTick(uint32_t TickPriority) {
    (void)TickPriority;
    return HAL_ERROR;
}

void HAL_IncTick(void) {
    enter(4);
    uwTick = uwTick + uwTickFreq;
}

uint32_t HAL_GetTick(void) {
    enter(4);
    return uwTick;
}

uint32_t HAL_GetTickPrio(void) {
    enter(cost::kHalQuery);
    return uwTickPrio;
}

void HAL_Delay(uint32_t Delay) {
    enter();
    const uint32_t tickstart = HAL_GetTick();
    uint32_t wait = Delay;
    if (wait < HAL_MAX_DELAY) {
        wait += static_cast<uint32_t>(uwTickFreq);  // at least the requested time
    }
    while ((HAL_GetTick() - tickstart) < wait) {
        cpu().spin_until_next_event();
    }
}

void HAL_SuspendTick(void) {
    enter(cost::kHalQuery);
}
void HAL_ResumeTick(void) {
    enter(cost::kHalQuery);
}

void HAL_NVIC_SetPriorityGrouping(uint32_t PriorityGroup) {
    enter();
    NVIC_SetPriorityGrouping(PriorityGroup);
}

void HAL_NVIC_SetPriority(IRQn_Type IRQn, uint32_t PreemptPriority, uint32_t SubPriority) {
    enter();
    NVIC_SetPriority(IRQn,
                     NVIC_EncodePriority(NVIC_GetPriorityGrouping(), PreemptPriority, SubPriority));
}

void HAL_NVIC_EnableIRQ(IRQn_Type IRQn) {
    enter();
    NVIC_EnableIRQ(IRQn);
}

void HAL_NVIC_DisableIRQ(IRQn_Type IRQn) {
    enter();
    NVIC_DisableIRQ(IRQn);
}

void HAL_NVIC_SystemReset(void) {
    NVIC_SystemReset();
}

uint32_t HAL_SYSTICK_Config(uint32_t TicksNumb) {
    enter();
    (void)TicksNumb;
    return 1U;  // SysTick belongs to the RTOS on this board
}
}
