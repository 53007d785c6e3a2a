// STM32F407 device header: interrupt numbers, register blocks and their
// addresses, and the bits the firmware and the HAL macros use.
//
// The register type comes from the platform backend (gimbal_reg.h): a plain
// volatile word on the chip, a proxy into the peripheral models on the
// virtual board. Layouts and addresses are the chip's in both.
#pragma once

#include <cstdint>

#include "gimbal_reg.h"

typedef enum {
    NonMaskableInt_IRQn = -14,
    MemoryManagement_IRQn = -12,
    BusFault_IRQn = -11,
    UsageFault_IRQn = -10,
    SVCall_IRQn = -5,
    DebugMonitor_IRQn = -4,
    PendSV_IRQn = -2,
    SysTick_IRQn = -1,
    WWDG_IRQn = 0,
    PVD_IRQn = 1,
    TAMP_STAMP_IRQn = 2,
    RTC_WKUP_IRQn = 3,
    FLASH_IRQn = 4,
    RCC_IRQn = 5,
    EXTI0_IRQn = 6,
    EXTI1_IRQn = 7,
    EXTI2_IRQn = 8,
    EXTI3_IRQn = 9,
    EXTI4_IRQn = 10,
    DMA1_Stream0_IRQn = 11,
    DMA1_Stream1_IRQn = 12,
    DMA1_Stream2_IRQn = 13,
    DMA1_Stream3_IRQn = 14,
    DMA1_Stream4_IRQn = 15,
    DMA1_Stream5_IRQn = 16,
    DMA1_Stream6_IRQn = 17,
    ADC_IRQn = 18,
    CAN1_TX_IRQn = 19,
    CAN1_RX0_IRQn = 20,
    CAN1_RX1_IRQn = 21,
    CAN1_SCE_IRQn = 22,
    EXTI9_5_IRQn = 23,
    TIM1_BRK_TIM9_IRQn = 24,
    TIM1_UP_TIM10_IRQn = 25,
    TIM1_TRG_COM_TIM11_IRQn = 26,
    TIM1_CC_IRQn = 27,
    TIM2_IRQn = 28,
    TIM3_IRQn = 29,
    TIM4_IRQn = 30,
    I2C1_EV_IRQn = 31,
    I2C1_ER_IRQn = 32,
    I2C2_EV_IRQn = 33,
    I2C2_ER_IRQn = 34,
    SPI1_IRQn = 35,
    SPI2_IRQn = 36,
    USART1_IRQn = 37,
    USART2_IRQn = 38,
    USART3_IRQn = 39,
    EXTI15_10_IRQn = 40,
    RTC_Alarm_IRQn = 41,
    OTG_FS_WKUP_IRQn = 42,
    TIM8_BRK_TIM12_IRQn = 43,
    TIM8_UP_TIM13_IRQn = 44,
    TIM8_TRG_COM_TIM14_IRQn = 45,
    TIM8_CC_IRQn = 46,
    DMA1_Stream7_IRQn = 47,
    FSMC_IRQn = 48,
    SDIO_IRQn = 49,
    TIM5_IRQn = 50,
    SPI3_IRQn = 51,
    UART4_IRQn = 52,
    UART5_IRQn = 53,
    TIM6_DAC_IRQn = 54,
    TIM7_IRQn = 55,
    DMA2_Stream0_IRQn = 56,
    DMA2_Stream1_IRQn = 57,
    DMA2_Stream2_IRQn = 58,
    DMA2_Stream3_IRQn = 59,
    DMA2_Stream4_IRQn = 60,
    ETH_IRQn = 61,
    ETH_WKUP_IRQn = 62,
    CAN2_TX_IRQn = 63,
    CAN2_RX0_IRQn = 64,
    CAN2_RX1_IRQn = 65,
    CAN2_SCE_IRQn = 66,
    OTG_FS_IRQn = 67,
    DMA2_Stream5_IRQn = 68,
    DMA2_Stream6_IRQn = 69,
    DMA2_Stream7_IRQn = 70,
    USART6_IRQn = 71,
    I2C3_EV_IRQn = 72,
    I2C3_ER_IRQn = 73,
    OTG_HS_EP1_OUT_IRQn = 74,
    OTG_HS_EP1_IN_IRQn = 75,
    OTG_HS_WKUP_IRQn = 76,
    OTG_HS_IRQn = 77,
    DCMI_IRQn = 78,
    HASH_RNG_IRQn = 80,
    FPU_IRQn = 81,
} IRQn_Type;

#define __CM4_REV 0x0001U
#define __MPU_PRESENT 1U
#define __NVIC_PRIO_BITS 4U
#define __Vendor_SysTickConfig 0U
#define __FPU_PRESENT 1U

#include "core_cm4.h"
#include "system_stm32f4xx.h"

typedef struct {
    gimbal_reg32_t MODER;    // 0x00 mode
    gimbal_reg32_t OTYPER;   // 0x04 output type
    gimbal_reg32_t OSPEEDR;  // 0x08 output speed
    gimbal_reg32_t PUPDR;    // 0x0C pull-up/pull-down
    gimbal_reg32_t IDR;      // 0x10 input data
    gimbal_reg32_t ODR;      // 0x14 output data
    gimbal_reg32_t BSRR;     // 0x18 bit set/reset
    gimbal_reg32_t LCKR;     // 0x1C lock
    gimbal_reg32_t AFR[2];   // 0x20 alternate function low/high
} GPIO_TypeDef;

typedef struct {
    gimbal_reg32_t CR;          // 0x00
    gimbal_reg32_t PLLCFGR;     // 0x04
    gimbal_reg32_t CFGR;        // 0x08
    gimbal_reg32_t CIR;         // 0x0C
    gimbal_reg32_t AHB1RSTR;    // 0x10
    gimbal_reg32_t AHB2RSTR;    // 0x14
    gimbal_reg32_t AHB3RSTR;    // 0x18
    uint32_t RESERVED0;         // 0x1C
    gimbal_reg32_t APB1RSTR;    // 0x20
    gimbal_reg32_t APB2RSTR;    // 0x24
    uint32_t RESERVED1[2];      // 0x28
    gimbal_reg32_t AHB1ENR;     // 0x30
    gimbal_reg32_t AHB2ENR;     // 0x34
    gimbal_reg32_t AHB3ENR;     // 0x38
    uint32_t RESERVED2;         // 0x3C
    gimbal_reg32_t APB1ENR;     // 0x40
    gimbal_reg32_t APB2ENR;     // 0x44
    uint32_t RESERVED3[2];      // 0x48
    gimbal_reg32_t AHB1LPENR;   // 0x50
    gimbal_reg32_t AHB2LPENR;   // 0x54
    gimbal_reg32_t AHB3LPENR;   // 0x58
    uint32_t RESERVED4;         // 0x5C
    gimbal_reg32_t APB1LPENR;   // 0x60
    gimbal_reg32_t APB2LPENR;   // 0x64
    uint32_t RESERVED5[2];      // 0x68
    gimbal_reg32_t BDCR;        // 0x70
    gimbal_reg32_t CSR;         // 0x74
    uint32_t RESERVED6[2];      // 0x78
    gimbal_reg32_t SSCGR;       // 0x80
    gimbal_reg32_t PLLI2SCFGR;  // 0x84
} RCC_TypeDef;

typedef struct {
    gimbal_reg32_t SR;    // 0x00 status
    gimbal_reg32_t DR;    // 0x04 data
    gimbal_reg32_t BRR;   // 0x08 baud rate
    gimbal_reg32_t CR1;   // 0x0C
    gimbal_reg32_t CR2;   // 0x10
    gimbal_reg32_t CR3;   // 0x14
    gimbal_reg32_t GTPR;  // 0x18
} USART_TypeDef;

typedef struct {
    gimbal_reg32_t CR1;    // 0x00
    gimbal_reg32_t CR2;    // 0x04
    gimbal_reg32_t SMCR;   // 0x08
    gimbal_reg32_t DIER;   // 0x0C
    gimbal_reg32_t SR;     // 0x10
    gimbal_reg32_t EGR;    // 0x14
    gimbal_reg32_t CCMR1;  // 0x18
    gimbal_reg32_t CCMR2;  // 0x1C
    gimbal_reg32_t CCER;   // 0x20
    gimbal_reg32_t CNT;    // 0x24
    gimbal_reg32_t PSC;    // 0x28
    gimbal_reg32_t ARR;    // 0x2C
    gimbal_reg32_t RCR;    // 0x30
    gimbal_reg32_t CCR1;   // 0x34
    gimbal_reg32_t CCR2;   // 0x38
    gimbal_reg32_t CCR3;   // 0x3C
    gimbal_reg32_t CCR4;   // 0x40
    gimbal_reg32_t BDTR;   // 0x44
    gimbal_reg32_t DCR;    // 0x48
    gimbal_reg32_t DMAR;   // 0x4C
    gimbal_reg32_t OR;     // 0x50
} TIM_TypeDef;

typedef struct {
    gimbal_reg32_t CR1;    // 0x00
    gimbal_reg32_t CR2;    // 0x04
    gimbal_reg32_t OAR1;   // 0x08
    gimbal_reg32_t OAR2;   // 0x0C
    gimbal_reg32_t DR;     // 0x10
    gimbal_reg32_t SR1;    // 0x14
    gimbal_reg32_t SR2;    // 0x18
    gimbal_reg32_t CCR;    // 0x1C
    gimbal_reg32_t TRISE;  // 0x20
    gimbal_reg32_t FLTR;   // 0x24
} I2C_TypeDef;

typedef struct {
    gimbal_reg32_t TIR;   // identifier
    gimbal_reg32_t TDTR;  // length and time stamp
    gimbal_reg32_t TDLR;  // data low
    gimbal_reg32_t TDHR;  // data high
} CAN_TxMailBox_TypeDef;

typedef struct {
    gimbal_reg32_t RIR;
    gimbal_reg32_t RDTR;
    gimbal_reg32_t RDLR;
    gimbal_reg32_t RDHR;
} CAN_FIFOMailBox_TypeDef;

typedef struct {
    gimbal_reg32_t FR1;
    gimbal_reg32_t FR2;
} CAN_FilterRegister_TypeDef;

typedef struct {
    gimbal_reg32_t MCR;                              // 0x000
    gimbal_reg32_t MSR;                              // 0x004
    gimbal_reg32_t TSR;                              // 0x008
    gimbal_reg32_t RF0R;                             // 0x00C
    gimbal_reg32_t RF1R;                             // 0x010
    gimbal_reg32_t IER;                              // 0x014
    gimbal_reg32_t ESR;                              // 0x018
    gimbal_reg32_t BTR;                              // 0x01C
    uint32_t RESERVED0[88];                          // 0x020
    CAN_TxMailBox_TypeDef sTxMailBox[3];             // 0x180
    CAN_FIFOMailBox_TypeDef sFIFOMailBox[2];         // 0x1B0
    uint32_t RESERVED1[12];                          // 0x1D0
    gimbal_reg32_t FMR;                              // 0x200
    gimbal_reg32_t FM1R;                             // 0x204
    uint32_t RESERVED2;                              // 0x208
    gimbal_reg32_t FS1R;                             // 0x20C
    uint32_t RESERVED3;                              // 0x210
    gimbal_reg32_t FFA1R;                            // 0x214
    uint32_t RESERVED4;                              // 0x218
    gimbal_reg32_t FA1R;                             // 0x21C
    uint32_t RESERVED5[8];                           // 0x220
    CAN_FilterRegister_TypeDef sFilterRegister[28];  // 0x240
} CAN_TypeDef;

typedef struct {
    gimbal_reg32_t ACR;
    gimbal_reg32_t KEYR;
    gimbal_reg32_t OPTKEYR;
    gimbal_reg32_t SR;
    gimbal_reg32_t CR;
    gimbal_reg32_t OPTCR;
    gimbal_reg32_t OPTCR1;
} FLASH_TypeDef;

typedef struct {
    gimbal_reg32_t CR;
    gimbal_reg32_t CSR;
} PWR_TypeDef;

// One DMA stream (RM0090, DMA registers: SxCR to SxFCR).
typedef struct {
    gimbal_reg32_t CR;    // 0x00 configuration
    gimbal_reg32_t NDTR;  // 0x04 number of data items
    gimbal_reg32_t PAR;   // 0x08 peripheral address
    gimbal_reg32_t M0AR;  // 0x0C memory 0 address
    gimbal_reg32_t M1AR;  // 0x10 memory 1 address
    gimbal_reg32_t FCR;   // 0x14 FIFO control
} DMA_Stream_TypeDef;

static_assert(sizeof(GPIO_TypeDef) == 0x28);
static_assert(sizeof(RCC_TypeDef) == 0x88);
static_assert(sizeof(TIM_TypeDef) == 0x54);
static_assert(sizeof(CAN_TypeDef) == 0x320);
static_assert(sizeof(DMA_Stream_TypeDef) == 0x18);

// Memory map
#define FLASH_BASE 0x08000000UL
#define SRAM1_BASE 0x20000000UL
#define PERIPH_BASE 0x40000000UL
#define APB1PERIPH_BASE PERIPH_BASE
#define APB2PERIPH_BASE (PERIPH_BASE + 0x00010000UL)
#define AHB1PERIPH_BASE (PERIPH_BASE + 0x00020000UL)

#define I2C2_BASE (APB1PERIPH_BASE + 0x5800UL)
#define CAN1_BASE (APB1PERIPH_BASE + 0x6400UL)
#define CAN2_BASE (APB1PERIPH_BASE + 0x6800UL)
#define PWR_BASE (APB1PERIPH_BASE + 0x7000UL)
#define TIM1_BASE (APB2PERIPH_BASE + 0x0000UL)
#define USART1_BASE (APB2PERIPH_BASE + 0x1000UL)
#define USART6_BASE (APB2PERIPH_BASE + 0x1400UL)
#define TIM10_BASE (APB2PERIPH_BASE + 0x4400UL)
#define GPIOA_BASE (AHB1PERIPH_BASE + 0x0000UL)
#define GPIOB_BASE (AHB1PERIPH_BASE + 0x0400UL)
#define GPIOC_BASE (AHB1PERIPH_BASE + 0x0800UL)
#define GPIOD_BASE (AHB1PERIPH_BASE + 0x0C00UL)
#define GPIOE_BASE (AHB1PERIPH_BASE + 0x1000UL)
#define GPIOF_BASE (AHB1PERIPH_BASE + 0x1400UL)
#define GPIOG_BASE (AHB1PERIPH_BASE + 0x1800UL)
#define GPIOH_BASE (AHB1PERIPH_BASE + 0x1C00UL)
#define GPIOI_BASE (AHB1PERIPH_BASE + 0x2000UL)
#define RCC_BASE (AHB1PERIPH_BASE + 0x3800UL)
#define FLASH_R_BASE (AHB1PERIPH_BASE + 0x3C00UL)

#define I2C2 ((I2C_TypeDef*)I2C2_BASE)
#define CAN1 ((CAN_TypeDef*)CAN1_BASE)
#define CAN2 ((CAN_TypeDef*)CAN2_BASE)
#define PWR ((PWR_TypeDef*)PWR_BASE)
#define TIM1 ((TIM_TypeDef*)TIM1_BASE)
#define TIM10 ((TIM_TypeDef*)TIM10_BASE)
#define USART1 ((USART_TypeDef*)USART1_BASE)
#define USART6 ((USART_TypeDef*)USART6_BASE)
#define GPIOA ((GPIO_TypeDef*)GPIOA_BASE)
#define GPIOB ((GPIO_TypeDef*)GPIOB_BASE)
#define GPIOC ((GPIO_TypeDef*)GPIOC_BASE)
#define GPIOD ((GPIO_TypeDef*)GPIOD_BASE)
#define GPIOE ((GPIO_TypeDef*)GPIOE_BASE)
#define GPIOF ((GPIO_TypeDef*)GPIOF_BASE)
#define GPIOG ((GPIO_TypeDef*)GPIOG_BASE)
#define GPIOH ((GPIO_TypeDef*)GPIOH_BASE)
#define GPIOI ((GPIO_TypeDef*)GPIOI_BASE)
#define RCC ((RCC_TypeDef*)RCC_BASE)
#define FLASH ((FLASH_TypeDef*)FLASH_R_BASE)

// RCC bits
#define RCC_CR_HSION (1U << 0)
#define RCC_CR_HSIRDY (1U << 1)
#define RCC_CR_HSEON (1U << 16)
#define RCC_CR_HSERDY (1U << 17)
#define RCC_CR_HSEBYP (1U << 18)
#define RCC_CR_PLLON (1U << 24)
#define RCC_CR_PLLRDY (1U << 25)
#define RCC_PLLCFGR_PLLM_Pos 0U
#define RCC_PLLCFGR_PLLM (0x3FU << 0)
#define RCC_PLLCFGR_PLLN_Pos 6U
#define RCC_PLLCFGR_PLLN (0x1FFU << 6)
#define RCC_PLLCFGR_PLLP_Pos 16U
#define RCC_PLLCFGR_PLLP (0x3U << 16)
#define RCC_PLLCFGR_PLLSRC (1U << 22)
#define RCC_PLLCFGR_PLLSRC_HSE (1U << 22)
#define RCC_PLLCFGR_PLLQ_Pos 24U
#define RCC_PLLCFGR_PLLQ (0xFU << 24)
#define RCC_CFGR_SW (0x3U << 0)
#define RCC_CFGR_SWS_Pos 2U
#define RCC_CFGR_SWS (0x3U << 2)
#define RCC_CFGR_HPRE_Pos 4U
#define RCC_CFGR_HPRE (0xFU << 4)
#define RCC_CFGR_PPRE1_Pos 10U
#define RCC_CFGR_PPRE1 (0x7U << 10)
#define RCC_CFGR_PPRE2_Pos 13U
#define RCC_CFGR_PPRE2 (0x7U << 13)

#define RCC_AHB1ENR_GPIOAEN (1U << 0)
#define RCC_AHB1ENR_GPIOBEN (1U << 1)
#define RCC_AHB1ENR_GPIOCEN (1U << 2)
#define RCC_AHB1ENR_GPIODEN (1U << 3)
#define RCC_AHB1ENR_GPIOEEN (1U << 4)
#define RCC_AHB1ENR_GPIOFEN (1U << 5)
#define RCC_AHB1ENR_GPIOGEN (1U << 6)
#define RCC_AHB1ENR_GPIOHEN (1U << 7)
#define RCC_AHB1ENR_GPIOIEN (1U << 8)
#define RCC_APB1ENR_I2C2EN (1U << 22)
#define RCC_APB1ENR_CAN1EN (1U << 25)
#define RCC_APB1ENR_CAN2EN (1U << 26)
#define RCC_APB1ENR_PWREN (1U << 28)
#define RCC_APB2ENR_TIM1EN (1U << 0)
#define RCC_APB2ENR_USART1EN (1U << 4)
#define RCC_APB2ENR_USART6EN (1U << 5)
#define RCC_APB2ENR_SYSCFGEN (1U << 14)
#define RCC_APB2ENR_TIM10EN (1U << 17)

// FLASH bits
#define FLASH_ACR_LATENCY (0x7U << 0)
#define FLASH_ACR_PRFTEN (1U << 8)
#define FLASH_ACR_ICEN (1U << 9)
#define FLASH_ACR_DCEN (1U << 10)

// PWR bits
#define PWR_CR_VOS (1U << 14)

// CAN bits
#define CAN_TSR_TXOK0 (1U << 1)
#define CAN_TSR_TXOK1 (1U << 9)
#define CAN_TSR_TXOK2 (1U << 17)

// USART bits
#define USART_SR_PE (1U << 0)
#define USART_SR_FE (1U << 1)
#define USART_SR_NE (1U << 2)
#define USART_SR_ORE (1U << 3)
#define USART_SR_IDLE (1U << 4)
#define USART_SR_RXNE (1U << 5)
#define USART_SR_TC (1U << 6)
#define USART_SR_TXE (1U << 7)
#define USART_CR1_RE (1U << 2)
#define USART_CR1_TE (1U << 3)
#define USART_CR1_PS (1U << 9)
#define USART_CR1_PCE (1U << 10)
#define USART_CR1_M (1U << 12)
#define USART_CR1_UE (1U << 13)
#define USART_CR1_OVER8 (1U << 15)
#define USART_CR2_STOP (0x3U << 12)
#define USART_CR3_RTSE (1U << 8)
#define USART_CR3_CTSE (1U << 9)

// TIM bits
#define TIM_CR1_CEN (1U << 0)
#define TIM_CR1_DIR (1U << 4)
#define TIM_CR1_ARPE (1U << 7)
#define TIM_CR1_CKD (0x3U << 8)
#define TIM_DIER_UIE (1U << 0)
#define TIM_SR_UIF (1U << 0)
#define TIM_EGR_UG (1U << 0)

// GPIO bits
#define GPIO_MODER_MODER0 (0x3U << 0)
#define GPIO_OTYPER_OT0 (1U << 0)
#define GPIO_OSPEEDER_OSPEEDR0 (0x3U << 0)
#define GPIO_PUPDR_PUPDR0 (0x3U << 0)
