// Routes the driver's status line and error boxes to the platform's default
// or to hooks a front end installs (the command-line tool prints them).
#include "install/platform.h"

#include <stddef.h>

namespace {

const HostUiHooks kDefaultHooks = {PlatformShowStatusDefault, PlatformShowErrorDefault, NULL};
HostUiHooks gHooks = kDefaultHooks;

}  // namespace

void SetHostUiHooks(const HostUiHooks* hooks) { gHooks = hooks ? *hooks : kDefaultHooks; }

void HostShowStatus(void* owner, const char* text) { gHooks.ShowStatus(owner, text); }

void HostShowError(void* owner, const char* text, const char* caption) {
    gHooks.ShowError(owner, text, caption);
}

void HostShowWriteFailure(void* owner, const char* text, const char* caption, uint32_t systemError) {
    if (gHooks.ShowWriteFailure)
        gHooks.ShowWriteFailure(owner, text, caption, systemError);
    else
        gHooks.ShowError(owner, text, caption);
}
