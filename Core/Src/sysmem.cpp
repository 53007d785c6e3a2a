// Runtime-library heap between the end of static data and the main stack.
#include <cerrno>
#include <cstddef>
#include <cstdint>

extern "C" {

extern uint8_t _end;              // end of zero-initialised data
extern uint8_t _estack;           // top of SRAM
extern uint32_t _Min_Stack_Size;  // reserved for the main stack (its address is the size)

uint8_t* __sbrk_heap_end = nullptr;

void* _sbrk(ptrdiff_t incr) {
    const uintptr_t stack_limit =
        reinterpret_cast<uintptr_t>(&_estack) - reinterpret_cast<uintptr_t>(&_Min_Stack_Size);
    if (__sbrk_heap_end == nullptr) {
        __sbrk_heap_end = &_end;
    }
    if (reinterpret_cast<uintptr_t>(__sbrk_heap_end) + static_cast<uintptr_t>(incr) > stack_limit) {
        errno = ENOMEM;
        return reinterpret_cast<void*>(-1);
    }
    uint8_t* prev = __sbrk_heap_end;
    __sbrk_heap_end += incr;
    return prev;
}
}
