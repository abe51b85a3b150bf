// Whether the test program runs in Wine's 32-bit loader through an
// emulator (scripts/wine-env.sh sets QV_WINE_EMULATED there). That Wine
// cannot start another process, and the whole test program crashes there
// as soon as a test reports a skip or a failure, so tests that need what it
// lacks return at once without a verdict; the 64-bit build covers them.
#ifndef QUORVANEL_TESTS_WIN_EMULATION_H
#define QUORVANEL_TESTS_WIN_EMULATION_H

#include <windows.h>

inline bool EmulatedWine() {
    char value[8];
    return sizeof(void*) == 4 && GetEnvironmentVariableA("QV_WINE_EMULATED", value, 8) > 0;
}

#endif
