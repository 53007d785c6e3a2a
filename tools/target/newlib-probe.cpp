// The runtime library's per-thread record as this build's C++ compiler lays
// it out: checks.py newlib compares its size with the linked library's own.
#include <reent.h>

extern "C" {
struct _reent gimbal_reent_cxx;
}
