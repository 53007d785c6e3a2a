/* What the Cortex-M4F's SCB registers keep: CPACR and AIRCR at reset, after a
 * write of every bit, and AIRCR after writes with and without its key.
 * Bare metal, output through semihosting; run by tools/measure/scb-on-qemu. */
#include <stdint.h>

#define CPACR (*(volatile uint32_t*)0xE000ED88u)
#define AIRCR (*(volatile uint32_t*)0xE000ED0Cu)

static void semihost(uint32_t op, const void* arg) {
    register uint32_t r0 __asm__("r0") = op;
    register const void* r1 __asm__("r1") = arg;
    __asm__ volatile("bkpt 0xAB" : "+r"(r0) : "r"(r1) : "memory");
}

static void line(const char* name, uint32_t value) {
    static const char hex[] = "0123456789ABCDEF";
    char text[64];
    int n = 0;
    while (*name) {
        text[n++] = *name++;
    }
    text[n++] = ' ';
    text[n++] = '0';
    text[n++] = 'x';
    for (int shift = 28; shift >= 0; shift -= 4) {
        text[n++] = hex[(value >> shift) & 0xF];
    }
    text[n++] = '\n';
    text[n] = 0;
    semihost(0x04, text); /* SYS_WRITE0 */
}

void reset(void) {
    line("CPACR at reset:", CPACR);
    CPACR = 0xFFFFFFFFu;
    line("CPACR after writing 0xFFFFFFFF:", CPACR);
    CPACR = 0x00F00000u;
    line("CPACR after writing 0x00F00000:", CPACR);
    line("AIRCR at reset:", AIRCR);
    AIRCR = 0x05FA0000u | (3u << 8);
    line("AIRCR after keyed write of PRIGROUP 3:", AIRCR);
    AIRCR = 5u << 8;
    line("AIRCR after unkeyed write of PRIGROUP 5:", AIRCR);
    AIRCR = 0xFA050000u | (5u << 8);
    line("AIRCR after writing PRIGROUP 5 with the read-back key:", AIRCR);
    AIRCR = 0x05FA0000u | (5u << 8);
    line("AIRCR after keyed write of PRIGROUP 5:", AIRCR);
    static const uint32_t stopped[2] = {0x20026u, 0}; /* application exit */
    semihost(0x18, stopped);                          /* SYS_EXIT */
    for (;;) {
    }
}

extern uint32_t stack_top;
__attribute__((section(".vectors"), used)) static const void* const vectors[2] = {&stack_top,
                                                                                  (void*)reset};
