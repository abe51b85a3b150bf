// The allocation pair over the platform's allocator, with the test hook.
#include "base/stream.h"

static bool (*gAllocFailureHook)(size_t size) = NULL;

void SetAllocFailureHook(bool (*shouldFail)(size_t size)) { gAllocFailureHook = shouldFail; }

void* AllocZeroed(size_t size) {
    if (gAllocFailureHook && gAllocFailureHook(size)) return NULL;
    return SystemAllocZeroed(size);
}

void FreeAndClear(void* pointer) {
    void** p = static_cast<void**>(pointer);
    if (*p) SystemFree(*p);
    *p = NULL;
}
