// The few C library functions the installer program needs, for a program
// that carries no C runtime: Windows 95 shipped no C runtime DLL. The core
// calls the string and memory functions by their standard names, and the
// compiler emits calls to memcpy and memset for copies and clearing of
// records; both land here. Built without the compiler's own knowledge of
// these functions, so that the loops below are not turned back into calls
// to themselves.
#include <stddef.h>

extern "C" {

void* memcpy(void* to, const void* from, size_t count) {
    unsigned char* d = static_cast<unsigned char*>(to);
    const unsigned char* s = static_cast<const unsigned char*>(from);
    while (count--) *d++ = *s++;
    return to;
}

void* memmove(void* to, const void* from, size_t count) {
    unsigned char* d = static_cast<unsigned char*>(to);
    const unsigned char* s = static_cast<const unsigned char*>(from);
    if (d <= s || d >= s + count) return memcpy(to, from, count);
    while (count--) d[count] = s[count];
    return to;
}

void* memset(void* block, int value, size_t count) {
    unsigned char* d = static_cast<unsigned char*>(block);
    while (count--) *d++ = static_cast<unsigned char>(value);
    return block;
}

int memcmp(const void* a, const void* b, size_t count) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; count; count--, x++, y++)
        if (*x != *y) return *x < *y ? -1 : 1;
    return 0;
}

size_t strlen(const char* s) {
    const char* p = s;
    while (*p) p++;
    return static_cast<size_t>(p - s);
}

int strcmp(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    while (*x && *x == *y) x++, y++;
    return *x < *y ? -1 : *x > *y ? 1 : 0;
}

}  // extern "C"
