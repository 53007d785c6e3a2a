/* Fresh runtime-library state, as each kernel thread has its own
 * (configUSE_NEWLIB_REENTRANT): its first output sets up its streams. */
#include <reent.h>

#define POOL 40
static struct _reent pool[POOL];
static int used;

struct _reent* image_fresh_reent(void) {
    if (used == POOL) {
        return 0;
    }
    struct _reent* r = &pool[used++];
    _REENT_INIT_PTR(r);
    return r;
}

struct _reent* image_use_reent(struct _reent* r) {
    struct _reent* before = _impure_ptr;
    _impure_ptr = r;
    return before;
}
