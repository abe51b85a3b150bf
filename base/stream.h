// Byte streams and zero-filled memory: the thin layer over the standard
// library through which the reader, the decoder and the driver read, write
// and allocate. Streams are the standard buffered file streams.
#ifndef QUORVANEL_BASE_STREAM_H
#define QUORVANEL_BASE_STREAM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Origins of SeekFile.
enum SeekOrigin {
    kSeekFromStart = 0,
    kSeekFromCurrent = 1
};

// 0 when the stream's last bytes went out and it was closed; nothing to do
// (and 0) without a stream.
int CloseFile(FILE* stream);
// Bytes read; fewer at the end of the file.
size_t ReadBytes(FILE* stream, void* buffer, size_t count);
// Bytes written; 0 without writing when there is no stream.
size_t WriteBytes(FILE* stream, const void* buffer, size_t count);
// 0 on success, -1 on failure.
int SeekFile(FILE* stream, int32_t offset, int origin);
// Before any other use of a stream: writes go straight to the file, not
// through a buffer that the bytes would be copied into first.
void SetUnbuffered(FILE* stream);
// The position, or -1 when it is unknown or beyond the signed 32-bit range.
int32_t TellFile(FILE* stream);

void* AllocZeroed(size_t size);
// Tests make allocations fail on purpose: while a hook is set, AllocZeroed
// returns none whenever the hook answers true for the size asked.
void SetAllocFailureHook(bool (*shouldFail)(size_t size));
// Frees the block *pointer points to, if any, and clears the pointer.
void FreeAndClear(void* pointer);

#endif
