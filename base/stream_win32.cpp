// Streams and memory over the kernel: file handles and the process heap.
// Every call used here is implemented by Windows 95 and NT alike.
//
// A stream keeps one read buffer. Reads are served from it and refill it;
// a read at least as large as the buffer goes straight into the caller's
// memory. Writes always go straight to the file (the decoder hands over
// whole stretches of its window), after the buffer is dropped, so a read
// after a write never sees stale bytes. The handle's own file pointer is
// moved only when the next transfer does not start where it stands.
#include <windows.h>

#include "base/stream.h"

namespace {

// Large enough that reading an archive takes few calls into the kernel: at
// 4 KB a solid archive of small entries paid one for every 4 KB of its
// packed bytes.
enum { kStreamBufferSize = 64 * 1024 };

struct Win32Stream {
    HANDLE Handle;
    uint32_t Position;      // where the next read or write starts
    uint32_t HandleAt;      // where the handle's file pointer stands
    uint32_t BufferStart;   // file offset of Buffer[0]
    uint32_t BufferLength;  // bytes of Buffer that hold file data
    bool Failed;
    uint8_t Buffer[kStreamBufferSize];
};

Win32Stream* AsStream(FileStream* stream) { return reinterpret_cast<Win32Stream*>(stream); }

bool SameText(const char* a, const char* b) {
    while (*a && *a == *b) a++, b++;
    return *a == *b;
}

// The access and disposition of a C-style mode; false for a mode not known.
bool ParseMode(const char* mode, DWORD* access, DWORD* disposition) {
    struct ModeEntry {
        const char* Mode;
        DWORD Access;
        DWORD Disposition;
    };
    static const ModeEntry kModes[] = {
        {"rb", GENERIC_READ, OPEN_EXISTING},
        {"r+b", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},
        {"wb", GENERIC_WRITE, CREATE_ALWAYS},
        {"w+b", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS},
        {"wbx", GENERIC_WRITE, CREATE_NEW},
        {"w+bx", GENERIC_READ | GENERIC_WRITE, CREATE_NEW},
    };
    for (const ModeEntry& m : kModes) {
        if (SameText(mode, m.Mode)) {
            *access = m.Access;
            *disposition = m.Disposition;
            return true;
        }
    }
    return false;
}

// FILE_SHARE_DELETE is left out: Windows 95 refuses it.
DWORD ShareFlags(StreamShare share) {
    switch (share) {
        case kStreamDenyRead: return FILE_SHARE_WRITE;
        case kStreamDenyWrite: return FILE_SHARE_READ;
        case kStreamDenyReadWrite: return 0;
        default: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
}

bool MoveHandleTo(Win32Stream* s, uint32_t position) {
    if (s->HandleAt == position) return true;
    LONG high = 0;
    DWORD low = SetFilePointer(s->Handle, static_cast<LONG>(position), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
    s->HandleAt = position;
    return true;
}

// Reads up to count bytes at the stream's position through the handle.
uint32_t ReadThroughHandle(Win32Stream* s, void* buffer, uint32_t count) {
    DWORD got = 0;
    if (!MoveHandleTo(s, s->Position) || !ReadFile(s->Handle, buffer, count, &got, NULL)) {
        s->Failed = true;
        return 0;
    }
    s->HandleAt += got;
    return got;
}

}  // namespace

FileStream* OpenStream(const char* path, const char* mode, StreamShare share) {
    DWORD access, disposition;
    if (!ParseMode(mode, &access, &disposition)) return NULL;
    Win32Stream* s = static_cast<Win32Stream*>(SystemAllocZeroed(sizeof(Win32Stream)));
    if (!s) return NULL;
    s->Handle = CreateFileA(path, access, ShareFlags(share), NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (s->Handle == INVALID_HANDLE_VALUE) {
        SystemFree(s);
        return NULL;
    }
    return reinterpret_cast<FileStream*>(s);
}

int CloseFile(FileStream* stream) {
    if (!stream) return 0;
    Win32Stream* s = AsStream(stream);
    bool closed = CloseHandle(s->Handle) != 0;
    bool failed = s->Failed;
    SystemFree(s);
    return closed && !failed ? 0 : -1;
}

size_t ReadBytes(FileStream* stream, void* buffer, size_t count) {
    Win32Stream* s = AsStream(stream);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        uint32_t want = static_cast<uint32_t>(count - done > 0x40000000u ? 0x40000000u : count - done);
        if (s->Position >= s->BufferStart && s->Position - s->BufferStart < s->BufferLength) {
            uint32_t at = s->Position - s->BufferStart, have = s->BufferLength - at;
            uint32_t take = want < have ? want : have;
            CopyMemory(out + done, s->Buffer + at, take);
            s->Position += take;
            done += take;
            continue;
        }
        if (want >= kStreamBufferSize) {
            uint32_t got = ReadThroughHandle(s, out + done, want);
            s->Position += got;
            done += got;
            if (got < want) break;
            continue;
        }
        s->BufferStart = s->Position;
        s->BufferLength = ReadThroughHandle(s, s->Buffer, kStreamBufferSize);
        if (s->BufferLength == 0) break;
    }
    return done;
}

size_t WriteBytes(FileStream* stream, const void* buffer, size_t count) {
    if (!stream) return 0;
    Win32Stream* s = AsStream(stream);
    s->BufferLength = 0;
    DWORD wrote = 0;
    if (!MoveHandleTo(s, s->Position) ||
        !WriteFile(s->Handle, buffer, static_cast<DWORD>(count), &wrote, NULL) || wrote != count)
        s->Failed = true;
    s->HandleAt += wrote;
    s->Position += wrote;
    return wrote;
}

int SeekFile(FileStream* stream, int32_t offset, int origin) {
    Win32Stream* s = AsStream(stream);
    int64_t base = 0;
    if (origin == kSeekFromCurrent) {
        base = s->Position;
    } else if (origin == kSeekFromEnd) {
        DWORD high = 0, low = GetFileSize(s->Handle, &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
        base = static_cast<int64_t>(static_cast<uint64_t>(high) << 32 | low);
    } else if (origin != kSeekFromStart) {
        return -1;
    }
    int64_t target = base + offset;
    if (target < 0 || target > 0xFFFFFFFFll) return -1;
    s->Position = static_cast<uint32_t>(target);
    return 0;
}

int32_t TellFile(FileStream* stream) {
    uint32_t pos = AsStream(stream)->Position;
    return pos > 0x7FFFFFFFu ? -1 : static_cast<int32_t>(pos);
}

bool StreamFailed(FileStream* stream) { return AsStream(stream)->Failed; }

// Writes never go through the buffer here.
void SetUnbuffered(FileStream*) {}

void* StreamSystemHandle(FileStream* stream) { return AsStream(stream)->Handle; }

void* SystemAllocZeroed(size_t size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }

void SystemFree(void* block) { HeapFree(GetProcessHeap(), 0, block); }
