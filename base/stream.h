// Byte streams and zero-filled memory: the thin layer through which the
// reader, the decoder and the driver read, write and allocate.
//
// One POSIX file (stream_posix.cpp) puts the C library's buffered streams
// and allocator behind it. One Win32 file (stream_win32.cpp) is a small
// stream of our own over the kernel's file handles and the process heap, so
// that the installer program needs no C runtime DLL: Windows 95 shipped
// none. Both give the same answers to the same calls; the tests run on both.
#ifndef QUORVANEL_BASE_STREAM_H
#define QUORVANEL_BASE_STREAM_H

#include <stddef.h>
#include <stdint.h>

// An open file. What it holds is the platform's affair.
struct FileStream;

// Origins of SeekFile.
enum SeekOrigin {
    kSeekFromStart = 0,
    kSeekFromCurrent = 1,
    kSeekFromEnd = 2
};

// What others may do with a file while a stream has it open.
enum StreamShare {
    kStreamShareAll,      // others may read and write
    kStreamDenyRead,      // others may write, not read
    kStreamDenyWrite,     // others may read, not write
    kStreamDenyReadWrite  // others may do neither
};

// Opens path (in the system's own form) with a C-style mode: "rb" reads an
// existing file; "r+b" reads and writes one; "wb" and "w+b" create or
// truncate (write only, or read and write); an "x" after them ("wbx",
// "w+bx") fails where anything stands at the path already. None on failure
// or on a mode not listed.
FileStream* OpenStream(const char* path, const char* mode, StreamShare share);
// Closes the stream; 0 when every byte written to it went out and no read or
// write on it failed. Nothing to do (and 0) without a stream.
int CloseFile(FileStream* stream);
// Bytes read; fewer at the end of the file.
size_t ReadBytes(FileStream* stream, void* buffer, size_t count);
// Bytes written; 0 without writing when there is no stream.
size_t WriteBytes(FileStream* stream, const void* buffer, size_t count);
// 0 on success, -1 on failure (a position before the start included).
int SeekFile(FileStream* stream, int32_t offset, int origin);
// The position, or -1 when it is unknown or beyond the signed 32-bit range.
int32_t TellFile(FileStream* stream);
// True once a read or write on the stream has failed.
bool StreamFailed(FileStream* stream);
// Before any other use of a stream: writes go straight to the file, not
// through a buffer that the bytes would be copied into first.
void SetUnbuffered(FileStream* stream);
// The platform's own object behind the stream, for the platform files of
// the layers above: a Win32 HANDLE, or a C library FILE*. Bytes the stream
// still held have gone out when it returns.
void* StreamSystemHandle(FileStream* stream);

void* AllocZeroed(size_t size);
// Tests make allocations fail on purpose: while a hook is set, AllocZeroed
// returns none whenever the hook answers true for the size asked.
void SetAllocFailureHook(bool (*shouldFail)(size_t size));
// Frees the block *pointer points to, if any, and clears the pointer.
void FreeAndClear(void* pointer);

// The platform's allocator behind AllocZeroed and FreeAndClear.
void* SystemAllocZeroed(size_t size);
void SystemFree(void* block);

#endif
