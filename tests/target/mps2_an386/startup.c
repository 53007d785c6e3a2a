/* Reset and fault handling of the test image on QEMU's mps2-an386; output and
 * exit through semihosting. */
#include <stdint.h>

extern uint32_t _sidata, _sdata, _edata, _sbss, _ebss, _estack;
extern int main(void);

void Reset_Handler(void);
void Fault_Handler(void);
void semihost_write0(const char* text);
void semihost_exit(int status) __attribute__((noreturn));

__attribute__((section(".isr_vector"), used)) const void* const vectors[16] = {
    &_estack,
    Reset_Handler,
    Fault_Handler,
    Fault_Handler,
    Fault_Handler,
    Fault_Handler,
    Fault_Handler,
    0,
    0,
    0,
    0,
    Fault_Handler,
    Fault_Handler,
    0,
    Fault_Handler,
    Fault_Handler,
};

static int semihost(int op, const void* arg) {
    register int r0 __asm("r0") = op;
    register const void* r1 __asm("r1") = arg;
    __asm volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
    return r0;
}

void semihost_write0(const char* text) {
    semihost(0x04, text); /* SYS_WRITE0 */
}

void semihost_exit(int status) {
    /* SYS_EXIT_EXTENDED: ADP_Stopped_ApplicationExit with the status. */
    const uint32_t block[2] = {0x20026, (uint32_t)status};
    semihost(0x20, block);
    for (;;) {
    }
}

void Fault_Handler(void) {
    semihost_write0("fault: the image crashed\n0 passed, 1 failed\n");
    semihost_exit(3);
}

void Reset_Handler(void) {
    uint32_t* src = &_sidata;
    for (uint32_t* dst = &_sdata; dst < &_edata;) {
        *dst++ = *src++;
    }
    for (uint32_t* dst = &_sbss; dst < &_ebss;) {
        *dst++ = 0;
    }
    /* Full access to CP10/CP11 before any floating-point instruction. */
    *(volatile uint32_t*)0xE000ED88 |= 0xFU << 20;
    __asm volatile("dsb\n isb");
    semihost_exit(main());
}
