/* The kernel's heap, as its heap scheme allocates it: the emulator places
 * each thread's stack and control block and each queue here, block after
 * block as the kernel stand-in accounts them (docs/design.md, "Kernel heap"). */
#include <stddef.h>
#include <stdint.h>

#include "FreeRTOSConfig.h"

uint8_t ucHeap[configTOTAL_HEAP_SIZE] __attribute__((aligned(8)));
