/* Start-up of the STM32F407: vector table and reset handler.
 *
 * Every handler name is weak and falls back to Default_Handler, so the
 * firmware overrides a vector just by defining a function of that name
 * (the kernel's SVC, PendSV and SysTick handlers included). */

    .syntax unified
    .thumb

    .global g_pfnVectors
    .global Default_Handler

    .section .text.Reset_Handler, "ax", %progbits
    .weak Reset_Handler
    .type Reset_Handler, %function
Reset_Handler:
    ldr     sp, =_estack            /* also right after a debugger jumps here */
    bl      SystemInit
    dsb                             /* FPU access granted by SystemInit takes */
    isb                             /* effect only after a barrier */

    /* Initialised data: copy its load image from flash, a word at a time. */
    ldr     r0, =_sdata
    ldr     r1, =_edata
    ldr     r2, =_sidata
    b       2f
1:  ldr     r3, [r2], #4
    str     r3, [r0], #4
2:  cmp     r0, r1
    bcc     1b

    /* Zero-initialised data. */
    ldr     r0, =_sbss
    ldr     r1, =_ebss
    movs    r2, #0
    b       4f
3:  str     r2, [r0], #4
4:  cmp     r0, r1
    bcc     3b

    bl      __libc_init_array       /* static constructors */
    bl      main
5:  b       5b                      /* main does not return; stay put if it does */
    .size Reset_Handler, . - Reset_Handler

/* Any interrupt without a handler of its own stops here, at its priority. */
    .section .text.Default_Handler, "ax", %progbits
    .type Default_Handler, %function
Default_Handler:
    b       Default_Handler
    .size Default_Handler, . - Default_Handler

/* One vector: the handler's address, the name weak and bound to Default_Handler. */
    .macro handler name
    .word   \name
    .weak   \name
    .thumb_set \name, Default_Handler
    .endm

    .section .isr_vector, "a", %progbits
    .p2align 2
    .type g_pfnVectors, %object
g_pfnVectors:
    .word   _estack
    .word   Reset_Handler
    handler NMI_Handler
    handler HardFault_Handler
    handler MemManage_Handler
    handler BusFault_Handler
    handler UsageFault_Handler
    .word   0
    .word   0
    .word   0
    .word   0
    handler SVC_Handler
    handler DebugMon_Handler
    .word   0
    handler PendSV_Handler
    handler SysTick_Handler

    /* Interrupts, by IRQ number. */
    handler WWDG_IRQHandler                     /*  0 */
    handler PVD_IRQHandler                      /*  1 */
    handler TAMP_STAMP_IRQHandler               /*  2 */
    handler RTC_WKUP_IRQHandler                 /*  3 */
    handler FLASH_IRQHandler                    /*  4 */
    handler RCC_IRQHandler                      /*  5 */
    handler EXTI0_IRQHandler                    /*  6 */
    handler EXTI1_IRQHandler                    /*  7 */
    handler EXTI2_IRQHandler                    /*  8 */
    handler EXTI3_IRQHandler                    /*  9 */
    handler EXTI4_IRQHandler                    /* 10 */
    handler DMA1_Stream0_IRQHandler             /* 11 */
    handler DMA1_Stream1_IRQHandler             /* 12 */
    handler DMA1_Stream2_IRQHandler             /* 13 */
    handler DMA1_Stream3_IRQHandler             /* 14 */
    handler DMA1_Stream4_IRQHandler             /* 15 */
    handler DMA1_Stream5_IRQHandler             /* 16 */
    handler DMA1_Stream6_IRQHandler             /* 17 */
    handler ADC_IRQHandler                      /* 18 */
    handler CAN1_TX_IRQHandler                  /* 19 */
    handler CAN1_RX0_IRQHandler                 /* 20 */
    handler CAN1_RX1_IRQHandler                 /* 21 */
    handler CAN1_SCE_IRQHandler                 /* 22 */
    handler EXTI9_5_IRQHandler                  /* 23 */
    handler TIM1_BRK_TIM9_IRQHandler            /* 24 */
    handler TIM1_UP_TIM10_IRQHandler            /* 25 */
    handler TIM1_TRG_COM_TIM11_IRQHandler       /* 26 */
    handler TIM1_CC_IRQHandler                  /* 27 */
    handler TIM2_IRQHandler                     /* 28 */
    handler TIM3_IRQHandler                     /* 29 */
    handler TIM4_IRQHandler                     /* 30 */
    handler I2C1_EV_IRQHandler                  /* 31 */
    handler I2C1_ER_IRQHandler                  /* 32 */
    handler I2C2_EV_IRQHandler                  /* 33 */
    handler I2C2_ER_IRQHandler                  /* 34 */
    handler SPI1_IRQHandler                     /* 35 */
    handler SPI2_IRQHandler                     /* 36 */
    handler USART1_IRQHandler                   /* 37 */
    handler USART2_IRQHandler                   /* 38 */
    handler USART3_IRQHandler                   /* 39 */
    handler EXTI15_10_IRQHandler                /* 40 */
    handler RTC_Alarm_IRQHandler                /* 41 */
    handler OTG_FS_WKUP_IRQHandler              /* 42 */
    handler TIM8_BRK_TIM12_IRQHandler           /* 43 */
    handler TIM8_UP_TIM13_IRQHandler            /* 44 */
    handler TIM8_TRG_COM_TIM14_IRQHandler       /* 45 */
    handler TIM8_CC_IRQHandler                  /* 46 */
    handler DMA1_Stream7_IRQHandler             /* 47 */
    handler FSMC_IRQHandler                     /* 48 */
    handler SDIO_IRQHandler                     /* 49 */
    handler TIM5_IRQHandler                     /* 50 */
    handler SPI3_IRQHandler                     /* 51 */
    handler UART4_IRQHandler                    /* 52 */
    handler UART5_IRQHandler                    /* 53 */
    handler TIM6_DAC_IRQHandler                 /* 54 */
    handler TIM7_IRQHandler                     /* 55 */
    handler DMA2_Stream0_IRQHandler             /* 56 */
    handler DMA2_Stream1_IRQHandler             /* 57 */
    handler DMA2_Stream2_IRQHandler             /* 58 */
    handler DMA2_Stream3_IRQHandler             /* 59 */
    handler DMA2_Stream4_IRQHandler             /* 60 */
    handler ETH_IRQHandler                      /* 61 */
    handler ETH_WKUP_IRQHandler                 /* 62 */
    handler CAN2_TX_IRQHandler                  /* 63 */
    handler CAN2_RX0_IRQHandler                 /* 64 */
    handler CAN2_RX1_IRQHandler                 /* 65 */
    handler CAN2_SCE_IRQHandler                 /* 66 */
    handler OTG_FS_IRQHandler                   /* 67 */
    handler DMA2_Stream5_IRQHandler             /* 68 */
    handler DMA2_Stream6_IRQHandler             /* 69 */
    handler DMA2_Stream7_IRQHandler             /* 70 */
    handler USART6_IRQHandler                   /* 71 */
    handler I2C3_EV_IRQHandler                  /* 72 */
    handler I2C3_ER_IRQHandler                  /* 73 */
    handler OTG_HS_EP1_OUT_IRQHandler           /* 74 */
    handler OTG_HS_EP1_IN_IRQHandler            /* 75 */
    handler OTG_HS_WKUP_IRQHandler              /* 76 */
    handler OTG_HS_IRQHandler                   /* 77 */
    handler DCMI_IRQHandler                     /* 78 */
    .word   0                               /* 79 reserved (CRYP on the F417) */
    handler HASH_RNG_IRQHandler                 /* 80 */
    handler FPU_IRQHandler                      /* 81 */

    .if (. - g_pfnVectors) != (98 * 4)
    .error "vector table must hold 98 words: stack pointer, 15 exceptions, 82 interrupts"
    .endif
    .size g_pfnVectors, . - g_pfnVectors
