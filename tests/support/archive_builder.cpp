#include "support/archive_builder.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <random>
#include <system_error>

#include "base/dostime.h"
#include "base/format.h"
#include "base/littleendian.h"

namespace fs = std::filesystem;

namespace qvtest {

namespace {

// A CRC-32 of its own (bit by bit), so that the builder does not share a
// fault with the table-driven one under test.
uint32_t Crc32Raw(uint32_t crc, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

void SetU16(Bytes& out, size_t at, uint16_t v) { StoreU16(&out[at], v); }

// Every test process works in a directory of its own under the test
// temporary directory, removed when the process ends.
fs::path& ProcessRoot() {
    static fs::path root;
    return root;
}

void RemoveProcessRoot() {
    std::error_code ec;
    const fs::path& root = ProcessRoot();
    if (root.empty()) return;
    // Read-only files would stop the removal on Windows.
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(root, ec);
}

const fs::path& TempRoot() {
    fs::path& root = ProcessRoot();
    if (!root.empty()) return root;
    fs::path base = fs::path(::testing::TempDir());
    std::random_device random;
    for (int attempt = 0; attempt < 100; attempt++) {
        char name[32];
        snprintf(name, sizeof name, "qvtest-%08x%08x", static_cast<unsigned>(random()),
                 static_cast<unsigned>(random()));
        std::error_code ec;
        if (fs::create_directories(base / name, ec)) {
            root = base / name;
            atexit(RemoveProcessRoot);
            return root;
        }
    }
    fprintf(stderr, "archive_builder: cannot create a directory under %s\n", base.string().c_str());
    abort();
}

// A fresh name under the process directory: NNNN-suffix.
fs::path FreshPath(const std::string& suffix) {
    static unsigned counter = 0;
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%04u-", ++counter);
    return TempRoot() / (prefix + suffix);
}

std::string Native(const fs::path& path) { return fs::path(path).make_preferred().string(); }

}  // namespace

void PutU8(Bytes& out, uint8_t v) { out.push_back(v); }

void PutU16(Bytes& out, uint16_t v) {
    out.resize(out.size() + 2);
    StoreU16(&out[out.size() - 2], v);
}

void PutU32(Bytes& out, uint32_t v) {
    out.resize(out.size() + 4);
    StoreU32(&out[out.size() - 4], v);
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

uint32_t Crc32(const uint8_t* data, size_t size) { return ~Crc32Raw(0xFFFFFFFFu, data, size); }

uint32_t Crc32(const Bytes& data) { return Crc32(data.data(), data.size()); }

uint32_t RotSum16(const Bytes& data) {
    uint32_t sum = 0;
    for (uint8_t b : data) {
        sum = (sum + b) & 0xFFFF;
        sum = ((sum << 1) | (sum >> 15)) & 0xFFFF;
    }
    return sum;
}

uint16_t HeaderCrc(const uint8_t* header, size_t size) {
    if (size <= 2) return 0;
    return static_cast<uint16_t>(Crc32(header + 2, size - 2));
}

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    DosTimeFields f = {static_cast<uint32_t>(year),   static_cast<uint32_t>(month),  static_cast<uint32_t>(day),
                       static_cast<uint32_t>(hour),   static_cast<uint32_t>(minute), static_cast<uint32_t>(second)};
    return PackDosDateTime(&f);
}

Bytes Marker() { return Bytes{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00}; }

Bytes OldSignature() { return Bytes{0x52, 0x45, 0x7E, 0x5E}; }

Bytes MainHeader(uint16_t flags, uint16_t headerSize, uint32_t reserved32) {
    Bytes h;
    PutU16(h, 0);
    PutU8(h, 0x73);
    PutU16(h, flags);
    PutU16(h, headerSize);
    PutU16(h, 0);
    PutU32(h, reserved32);
    SetU16(h, 0, HeaderCrc(h.data(), h.size()));
    if (headerSize > h.size()) h.resize(headerSize, 0);
    return h;
}

Bytes FileBlock(const FileSpec& spec) {
    size_t nameLength = spec.name.size();
    Bytes h;
    PutU16(h, 0);
    PutU8(h, 0x74);
    PutU16(h, spec.flags);
    PutU16(h, static_cast<uint16_t>(32 + nameLength + spec.extra.size()));
    PutU32(h, spec.packedSizeOverride >= 0 ? static_cast<uint32_t>(spec.packedSizeOverride)
                                           : static_cast<uint32_t>(spec.packed.size()));
    PutU32(h, spec.unpackedSize);
    PutU8(h, spec.hostSystem);
    PutU32(h, spec.dataCrc);
    PutU32(h, spec.dosDateTime);
    PutU8(h, spec.versionNeeded);
    PutU8(h, spec.methodCode);
    PutU16(h, spec.nameLengthOverride >= 0 ? static_cast<uint16_t>(spec.nameLengthOverride)
                                           : static_cast<uint16_t>(nameLength));
    PutU32(h, spec.attributes);
    h.insert(h.end(), spec.name.begin(), spec.name.end());
    // The checksum covers the fixed fields from offset 2 and the name.
    uint16_t crc = HeaderCrc(h.data(), h.size());
    if (spec.breakHeaderCrc) crc ^= 0x5A5A;
    SetU16(h, 0, crc);
    Append(h, spec.extra);
    Append(h, spec.packed);
    return h;
}

Bytes RawBlock(uint8_t type, uint16_t flags, uint16_t headerSize, const Bytes& body,
               const Bytes& addData) {
    Bytes h;
    PutU16(h, 0);
    PutU8(h, type);
    PutU16(h, flags);
    PutU16(h, headerSize);
    Append(h, body);
    // Never shorter than the 7 bytes every block starts with.
    h.resize(headerSize > 7 ? headerSize : 7, 0);
    SetU16(h, 0, HeaderCrc(h.data(), h.size()));
    Append(h, addData);
    return h;
}

Bytes SubBlock(const Bytes& data) {
    Bytes body;
    PutU32(body, static_cast<uint32_t>(data.size()));
    PutU16(body, 0x0100);  // sub-block kind
    PutU8(body, 0);        // level
    return RawBlock(0x77, 0x8000, 14, body, data);
}

Bytes EndBlock(uint16_t headerSize) { return RawBlock(0x76, 0x4000, headerSize); }

Bytes ImagePrefix(size_t size, bool rsfx) {
    Bytes image(size, 0);
    const char mz[] = "MZ";
    for (size_t i = 0; i < 2 && i < size; i++) image[i] = static_cast<uint8_t>(mz[i]);
    const char sfx[] = "RSFX";
    if (rsfx)
        for (size_t i = 0; i < 4 && 28 + i < size; i++)
            image[28 + i] = static_cast<uint8_t>(sfx[i]);
    return image;
}

namespace {

const size_t kPeHeader = 0x80;                      // e_lfanew
const size_t kOptionalHeader = kPeHeader + 4 + 20;  // behind "PE\0\0" and the COFF header

// Where the data directories and their count stand in each layout.
bool IsPe32Plus(const Bytes& file) { return file[kOptionalHeader] == 0x0B && file[kOptionalHeader + 1] == 0x02; }
size_t DirectoryCountAt(const Bytes& file) { return kOptionalHeader + (IsPe32Plus(file) ? 108 : 92); }
size_t CertificateEntryAt(const Bytes& file) { return kOptionalHeader + (IsPe32Plus(file) ? 112 : 96) + 4 * 8; }

}  // namespace

Bytes PeImagePrefix(size_t size, bool pe32Plus) {
    Bytes image(size < 0x200 ? 0x200 : size, 0);
    image[0] = 'M';
    image[1] = 'Z';
    SetU16(image, 0x3C, kPeHeader);
    memcpy(image.data() + kPeHeader, "PE\0\0", 4);
    SetU16(image, kPeHeader + 4, pe32Plus ? 0x8664 : 0x014C);    // x86-64 or i386
    SetU16(image, kPeHeader + 4 + 16, pe32Plus ? 240 : 224);      // size of the optional header
    SetU16(image, kOptionalHeader, pe32Plus ? 0x020B : 0x010B);  // PE32+ or PE32
    SetU16(image, DirectoryCountAt(image), 16);                   // data directories
    return image;
}

namespace {

const size_t kResourceSection = 0x200;     // the last bytes of an installer image
const uint32_t kResourceRva = 0x1000;
const size_t kMarkInResources = 88;        // behind three directories and a data entry
void SetU32(Bytes& out, size_t at, uint32_t v) { StoreU32(&out[at], v); }

}  // namespace

Bytes InstallerImage(size_t size, bool pe32Plus) {
    Bytes image = PeImagePrefix(size < 0x600 ? 0x600 : size, pe32Plus);
    SetImageField(image, kImageSubsystem, 2);  // Windows GUI
    SetImageField(image, kImageCharacteristics, 0x0102);  // executable, 32-bit words
    SetU16(image, kPeHeader + 4 + 2, 1);  // one section
    size_t raw = image.size() - kResourceSection;
    size_t section = kOptionalHeader + (pe32Plus ? 240 : 224);
    memcpy(image.data() + section, ".rsrc", 5);
    SetU32(image, section + 8, kResourceSection);   // size in memory
    SetU32(image, section + 12, kResourceRva);      // address in memory
    SetU32(image, section + 16, kResourceSection);  // size in the file
    SetU32(image, section + 20, static_cast<uint32_t>(raw));
    size_t resources = CertificateEntryAt(image) - 2 * 8;  // data directory 2
    SetU32(image, resources, kResourceRva);
    SetU32(image, resources + 4, kMarkInResources + 8);
    // Type 10 (RCDATA) -> id 100 -> language 0 -> the data entry.
    const uint32_t ids[3] = {10, 100, 0};
    for (size_t level = 0; level < 3; level++) {
        size_t table = raw + 24 * level;
        SetU16(image, table + 14, 1);  // one numbered entry
        SetU32(image, table + 16, ids[level]);
        SetU32(image, table + 20, static_cast<uint32_t>(24 * (level + 1)) | (level < 2 ? 0x80000000u : 0));
    }
    SetU32(image, raw + 72, kResourceRva + static_cast<uint32_t>(kMarkInResources));
    SetU32(image, raw + 76, kInstallerMarkSize);
    memcpy(image.data() + raw + kMarkInResources, kInstallerMark, kInstallerMarkSize);
    return image;
}

void SetImageField(Bytes& image, InstallerImageField field, uint16_t value) {
    static const size_t kAt[] = {kPeHeader + 4, kPeHeader + 4 + 18, kOptionalHeader + 68};
    SetU16(image, kAt[field], value);
}

size_t InstallerMarkAt(const Bytes& image) { return image.size() - kResourceSection + kMarkInResources; }

void SetDirectoryCount(Bytes& file, uint32_t count) { SetU16(file, DirectoryCountAt(file), static_cast<uint16_t>(count)); }

void SetCertificateTable(Bytes& file, uint32_t offset, uint32_t size) {
    size_t entry = CertificateEntryAt(file);
    for (int i = 0; i < 4; i++) {
        file[entry + i] = static_cast<uint8_t>(offset >> (8 * i));
        file[entry + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
}

void AppendSignature(Bytes& file, size_t bodySize, uint32_t seed) {
    file.resize((file.size() + 7) & ~size_t(7), 0);
    uint32_t offset = static_cast<uint32_t>(file.size());
    uint32_t length = static_cast<uint32_t>(8 + bodySize);
    PutU32(file, length);
    PutU16(file, 0x0200);  // revision 2
    PutU16(file, 0x0002);  // PKCS#7 signed data
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < bodySize; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        file.push_back(static_cast<uint8_t>(x >> 11));
    }
    SetCertificateTable(file, offset, length);
}

std::string WriteTempFile(const Bytes& data, const std::string& name) {
    fs::path dir = FreshPath("file");
    fs::create_directories(dir);
    std::string path = Native(dir / name);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || (!data.empty() && fwrite(data.data(), 1, data.size(), f) != data.size())) {
        fprintf(stderr, "archive_builder: cannot write %s\n", path.c_str());
        abort();
    }
    fclose(f);
    return path;
}

std::string MakeTempDir(const std::string& name) {
    fs::path dir = FreshPath(name);
    fs::create_directories(dir);
    return Native(dir);
}

Bytes ReadFileBytes(const std::string& path) {
    Bytes data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return data;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    fclose(f);
    return data;
}

std::string ToBackslashes(const std::string& path) {
    std::string out = path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

}  // namespace qvtest
