#include "base/stream.h"

#include <stdlib.h>

int CloseFile(FILE* stream) { return stream && fclose(stream) != 0 ? -1 : 0; }

size_t ReadBytes(FILE* stream, void* buffer, size_t count) { return fread(buffer, 1, count, stream); }

size_t WriteBytes(FILE* stream, const void* buffer, size_t count) {
    if (!stream) return 0;
    return fwrite(buffer, 1, count, stream);
}

int SeekFile(FILE* stream, int32_t offset, int origin) {
    return fseek(stream, offset, origin == kSeekFromStart ? SEEK_SET : SEEK_CUR) == 0 ? 0 : -1;
}

void SetUnbuffered(FILE* stream) { setvbuf(stream, NULL, _IONBF, 0); }

int32_t TellFile(FILE* stream) {
    long pos = ftell(stream);
    return pos < 0 || pos > INT32_MAX ? -1 : static_cast<int32_t>(pos);
}

static bool (*gAllocFailureHook)(size_t size) = NULL;

void SetAllocFailureHook(bool (*shouldFail)(size_t size)) { gAllocFailureHook = shouldFail; }

void* AllocZeroed(size_t size) {
    if (gAllocFailureHook && gAllocFailureHook(size)) return NULL;
    return calloc(1, size);
}

void FreeAndClear(void* pointer) {
    void** p = static_cast<void**>(pointer);
    if (*p) free(*p);
    *p = NULL;
}
