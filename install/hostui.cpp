// Routes the driver's status line and error boxes to the platform's default
// or to hooks a front end installs (the command-line tool prints them).
#include "install/platform.h"

namespace {

const HostUiHooks kDefaultHooks = {PlatformShowStatusDefault, PlatformShowErrorDefault};
HostUiHooks gHooks = kDefaultHooks;

}  // namespace

void SetHostUiHooks(const HostUiHooks* hooks) { gHooks = hooks ? *hooks : kDefaultHooks; }

void HostShowStatus(void* owner, const char* text) { gHooks.ShowStatus(owner, text); }

void HostShowError(void* owner, const char* text, const char* caption) {
    gHooks.ShowError(owner, text, caption);
}
