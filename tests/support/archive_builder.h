// Test-side archive builder: assembles archives and installer files byte by
// byte, with correct header checksums unless a test asks otherwise.
#ifndef QUORVANEL_TESTS_SUPPORT_ARCHIVE_BUILDER_H
#define QUORVANEL_TESTS_SUPPORT_ARCHIVE_BUILDER_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "support/bytes.h"

namespace qvtest {

void PutU8(Bytes& out, uint8_t v);
void PutU16(Bytes& out, uint16_t v);  // little-endian
void PutU32(Bytes& out, uint32_t v);
void Append(Bytes& out, const Bytes& more);

// Ordinary (final, complemented) CRC-32 of data, as stored in DataCrc.
uint32_t Crc32(const uint8_t* data, size_t size);
uint32_t Crc32(const Bytes& data);
// 16-bit rotating sum from 0, as stored by archives with the old signature.
uint32_t RotSum16(const Bytes& data);
// Low 16 bits of the complemented CRC-32 of header[2..size).
uint16_t HeaderCrc(const uint8_t* header, size_t size);
// MS-DOS date (high 16 bits) and time (low 16 bits).
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

// The 7-byte marker "Rar!" 1A 07 00.
Bytes Marker();
// The 4-byte old signature "RE~^".
Bytes OldSignature();
// Main header (type 0x73): 13 bytes, or headerSize with zero padding.
Bytes MainHeader(uint16_t flags = 0x0008, uint16_t headerSize = 13, uint32_t reserved32 = 0);

struct FileSpec {
    std::string name;           // stored as given ('/' or '\' as the test wants)
    Bytes packed;               // the packed data that follows the header
    uint32_t unpackedSize = 0;
    uint32_t dataCrc = 0;
    uint16_t flags = 0x8000;    // 0x8000 is always wanted; add 0x10 for solid
    uint8_t hostSystem = 2;
    uint32_t dosDateTime = 0x2570B062;  // 1998-11-16 22:03:04
    uint8_t versionNeeded = 20;
    uint8_t methodCode = '5';
    uint32_t attributes = 0x20;
    Bytes extra;                // header bytes after the name
    int64_t packedSizeOverride = -1;    // stored PackedSize when >= 0
    int32_t nameLengthOverride = -1;    // stored NameLength when >= 0
    bool breakHeaderCrc = false;
};
// File block: 32-byte header, name, extra, then the packed data.
Bytes FileBlock(const FileSpec& spec);

// Any other block: type, flags, header size, body (header bytes after the
// first 7, padded or cut to headerSize), then addData bytes behind it. When
// flags has 0x8000, the first 4 bytes of the body should hold addData's size.
Bytes RawBlock(uint8_t type, uint16_t flags, uint16_t headerSize, const Bytes& body = Bytes(),
               const Bytes& addData = Bytes());
// Sub-block (type 0x77) carrying data, with the 0x8000 add-size rule.
Bytes SubBlock(const Bytes& data);
// The 0x76 block that ends the shipped archive (flags 0x4000).
Bytes EndBlock(uint16_t headerSize = 94);

// An installer image stand-in: "MZ", zeros, size bytes long; with rsfx the
// bytes "RSFX" stand at offset 28.
Bytes ImagePrefix(size_t size, bool rsfx = false);

// A PE32 (or, for 64-bit Windows, PE32+) image stand-in: DOS header,
// "PE\0\0", a COFF header and an optional header with 16 data directories,
// all empty, zeros up to size.
Bytes PeImagePrefix(size_t size, bool pe32Plus = false);
// Sets the number of data directories such an image declares.
void SetDirectoryCount(Bytes& file, uint32_t count);
// Sets the certificate table entry (data directory 4) of such an image at
// the start of file, where its layout has it.
void SetCertificateTable(Bytes& file, uint32_t offset, uint32_t size);
// The installer program stand-in: such a PE image of a Windows GUI program
// (PE32 for i386, or PE32+ for x86-64), size bytes (at least 0x600) whose
// last 0x200 are its one section, .rsrc, holding the installer's mark as
// RCDATA resource 100.
Bytes InstallerImage(size_t size, bool pe32Plus = false);
// Where such an image keeps the COFF header's machine and characteristics,
// the optional header's subsystem, and the mark's 8 bytes.
enum InstallerImageField { kImageMachine, kImageCharacteristics, kImageSubsystem };
void SetImageField(Bytes& image, InstallerImageField field, uint16_t value);
size_t InstallerMarkAt(const Bytes& image);
// Signs file the way signing tools do, as far as the layout goes: pads it
// to 8 bytes, appends a certificate table (a WIN_CERTIFICATE header and
// bodySize bytes from seed) and points data directory 4 at it.
void AppendSignature(Bytes& file, size_t bodySize, uint32_t seed);

// Writes bytes to a fresh file under the test temporary directory and
// returns its path with the native separator.
std::string WriteTempFile(const Bytes& data, const std::string& name);
// A fresh empty directory under the test temporary directory (its path
// without a trailing separator). Everything made here is removed when the
// test process ends.
std::string MakeTempDir(const std::string& name);
// The whole file; empty when it cannot be read.
Bytes ReadFileBytes(const std::string& path);
// The path with every '/' turned into '\', the form the installer's own
// path operations take on every platform.
std::string ToBackslashes(const std::string& path);

}  // namespace qvtest

#endif
