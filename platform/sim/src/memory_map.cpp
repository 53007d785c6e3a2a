// Where the firmware's linker script puts the runtime-library heap: from the
// end of static data to the main stack's reserve below the top of SRAM. The
// board maps the SRAM at its chip address, so _sbrk hands out real memory.
//
// The end of static data is the image's: the kernel heap (32 KiB), the
// kernel's statically allocated idle and timer threads (stacks of 256 and
// 512 words with their control blocks), the HAL handles and the libraries'
// own data come to about 40 KiB.
asm(".globl gimbal_fw_end\n"
    ".set gimbal_fw_end, 0x2000A000\n"
    ".globl gimbal_fw_estack\n"
    ".set gimbal_fw_estack, 0x20020000\n"
    ".globl gimbal_fw_min_stack_size\n"
    ".set gimbal_fw_min_stack_size, 0x400\n");
