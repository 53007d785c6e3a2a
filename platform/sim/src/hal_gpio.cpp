// HAL GPIO on the port registers.
#include "hal_internal.hpp"

using namespace sim::hal;

extern "C" {

void HAL_GPIO_Init(GPIO_TypeDef* GPIOx, GPIO_InitTypeDef* init) {
    enter();
    for (uint32_t pin = 0; pin < 16U; pin++) {
        if (!(init->Pin & (1U << pin))) {
            continue;
        }
        const uint32_t mode = init->Mode & 0x3U;
        if (mode == 1U || mode == 2U) {
            MODIFY_REG(GPIOx->OSPEEDR, 3U << (2U * pin), init->Speed << (2U * pin));
            MODIFY_REG(GPIOx->OTYPER, 1U << pin, ((init->Mode >> 4U) & 1U) << pin);
        }
        if (mode != 3U) {
            MODIFY_REG(GPIOx->PUPDR, 3U << (2U * pin), init->Pull << (2U * pin));
        }
        if (mode == 2U) {
            const uint32_t shift = 4U * (pin & 7U);
            MODIFY_REG(GPIOx->AFR[pin >> 3U], 0xFU << shift, (init->Alternate & 0xFU) << shift);
        }
        MODIFY_REG(GPIOx->MODER, 3U << (2U * pin), mode << (2U * pin));
    }
}

void HAL_GPIO_DeInit(GPIO_TypeDef* GPIOx, uint32_t GPIO_Pin) {
    enter();
    for (uint32_t pin = 0; pin < 16U; pin++) {
        if (!(GPIO_Pin & (1U << pin))) {
            continue;
        }
        CLEAR_BIT(GPIOx->MODER, 3U << (2U * pin));
        CLEAR_BIT(GPIOx->AFR[pin >> 3U], 0xFU << (4U * (pin & 7U)));
        CLEAR_BIT(GPIOx->OSPEEDR, 3U << (2U * pin));
        CLEAR_BIT(GPIOx->OTYPER, 1U << pin);
        CLEAR_BIT(GPIOx->PUPDR, 3U << (2U * pin));
    }
}

GPIO_PinState HAL_GPIO_ReadPin(GPIO_TypeDef* GPIOx, uint16_t GPIO_Pin) {
    enter(8);
    return (GPIOx->IDR & GPIO_Pin) != 0U ? GPIO_PIN_SET : GPIO_PIN_RESET;
}

void HAL_GPIO_WritePin(GPIO_TypeDef* GPIOx, uint16_t GPIO_Pin, GPIO_PinState PinState) {
    enter(8);
    GPIOx->BSRR = PinState != GPIO_PIN_RESET ? GPIO_Pin : static_cast<uint32_t>(GPIO_Pin) << 16U;
}

void HAL_GPIO_TogglePin(GPIO_TypeDef* GPIOx, uint16_t GPIO_Pin) {
    enter(8);
    const uint32_t odr = GPIOx->ODR;
    GPIOx->BSRR = ((odr & GPIO_Pin) << 16U) | (~odr & GPIO_Pin);
}
}
