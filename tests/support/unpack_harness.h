// Test-side driver for the decoder: runs one entry through DecompressFile
// (or a decoder of the same contract) from a temporary archive stream into a
// temporary output stream, with the per-entry fields set as the archive
// walk's DecodeArchiveEntry sets them.
#ifndef QUORVANEL_TESTS_SUPPORT_UNPACK_HARNESS_H
#define QUORVANEL_TESTS_SUPPORT_UNPACK_HARNESS_H

#include <stdint.h>

#include <vector>

#include "base/context.h"
#include "base/stream.h"
#include "support/bytes.h"

namespace qvtest {

struct Entry {
    Bytes packed;               // the entry's bytes in the archive stream
    uint32_t unpackedSize = 0;
    bool solid = false;
    int64_t packedSize = -1;    // stored packed size when >= 0 (else packed.size())
    Bytes after;                // what follows in the stream (the next header, say)
    bool write = true;          // an OutputFile is present
    bool skip = false;          // SkipMode
    uint32_t format = 2;        // ArchiveFormat: 1 rotating sum, 2 CRC-32
    FileStream* output = nullptr;  // an output stream of the test's own, if any
};

struct Result {
    Bytes output;       // what reached the output stream
    uint32_t checksum;  // DataChecksum as left by the decoder
    long streamPos;     // archive stream position afterwards
};

// One installation's context and window, zero-filled, with the CRC table
// built.
struct Session {
    UnpackContext* ctx;
    uint8_t* window;
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // Decodes with DecompressFile, or with the given decoder of the same
    // contract.
    Result Run(const Entry& entry, void (*decode)(UnpackContext*, uint32_t) = nullptr);
};

// Reads a whole stream from its start.
Bytes ReadAll(FileStream* stream);
// A stream on a fresh temporary file holding data, positioned at its start,
// open for reading and writing.
FileStream* StreamOf(const Bytes& data);
// Closes a stream of StreamOf and removes its file; none does nothing.
void CloseStream(FileStream* stream);
// The checksum DecompressFile accumulates over data, from the driver's
// starting value (0xFFFFFFFF for CRC-32, 0 for the rotating sum).
uint32_t ExpectedChecksum(const Bytes& data, uint32_t format = 2);

}  // namespace qvtest

#endif
