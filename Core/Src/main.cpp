// Board bring-up, then the RTOS takes over.
#include "main.h"

#include "cmsis_os2.h"
#include "can.h"
#include "gpio.h"
#include "i2c.h"
#include "usart.h"

int main(void) {
    HAL_Init();
    SystemClock_Config();
    MX_GPIO_Init();
    MX_I2C2_Init();
    MX_USART1_UART_Init();  // console first, before anything prints
    MX_CAN2_Init();         // CAN2 before CAN1: it switches on the shared CAN1 clock
    MX_CAN1_Init();
    MX_USART6_UART_Init();

    osKernelInitialize();
    MX_FREERTOS_Init();
    osKernelStart();

    // Reached only if the kernel could not start.
    for (;;) {
        __WFI();
    }
}

void SystemClock_Config(void) {
    RCC_OscInitTypeDef osc = {};
    RCC_ClkInitTypeDef clk = {};

    __HAL_RCC_PWR_CLK_ENABLE();
    __HAL_PWR_VOLTAGESCALING_CONFIG(PWR_REGULATOR_VOLTAGE_SCALE1);

    // 8 MHz crystal / 4 * 168 / 2 = 168 MHz core.
    osc.OscillatorType = RCC_OSCILLATORTYPE_HSE;
    osc.HSEState = RCC_HSE_ON;
    osc.PLL.PLLState = RCC_PLL_ON;
    osc.PLL.PLLSource = RCC_PLLSOURCE_HSE;
    osc.PLL.PLLM = 4;
    osc.PLL.PLLN = 168;
    osc.PLL.PLLP = RCC_PLLP_DIV2;
    osc.PLL.PLLQ = 4;
    if (HAL_RCC_OscConfig(&osc) != HAL_OK) {
        Error_Handler();
    }

    clk.ClockType =
        RCC_CLOCKTYPE_HCLK | RCC_CLOCKTYPE_SYSCLK | RCC_CLOCKTYPE_PCLK1 | RCC_CLOCKTYPE_PCLK2;
    clk.SYSCLKSource = RCC_SYSCLKSOURCE_PLLCLK;
    clk.AHBCLKDivider = RCC_SYSCLK_DIV1;
    clk.APB1CLKDivider = RCC_HCLK_DIV4;  // 42 MHz
    clk.APB2CLKDivider = RCC_HCLK_DIV2;  // 84 MHz
    if (HAL_RCC_ClockConfig(&clk, FLASH_LATENCY_5) != HAL_OK) {
        Error_Handler();
    }
}

extern "C" void Error_Handler(void) {
    __disable_irq();
    for (;;) {
        __WFI();
    }
}
