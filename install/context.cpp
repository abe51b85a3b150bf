#include "install/context.h"

void BindAudioTables(UnpackContext* ctx) {
    for (int i = 0; i < 4; i++) ctx->AudioTables[i] = &ctx->AudioTableStore[i];
}
