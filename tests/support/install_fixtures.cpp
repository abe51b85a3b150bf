#include "support/install_fixtures.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "base/format.h"
#include "support/bitwriter.h"

namespace qvtest {

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

qvtest::FileSpec PackedEntry(const std::string& name, const Bytes& packed,
                              const std::string& data, bool solid) {
    qvtest::FileSpec e;
    e.name = name;
    e.packed = packed;
    e.unpackedSize = static_cast<uint32_t>(data.size());
    e.dataCrc = qvtest::Crc32(ToBytes(data));
    e.flags = static_cast<uint16_t>(0x8000 | (solid ? 0x10 : 0));
    return e;
}

qvtest::FileSpec LiteralEntry(const std::string& name, const std::string& data, bool solid) {
    Bytes d = ToBytes(data);
    return PackedEntry(name, qvtest::PackLiterals(d.data(), d.size(), solid), data, solid);
}

Bytes ArchiveOf(const std::vector<Bytes>& blocks, const Bytes& prefix) {
    Bytes out = prefix;
    qvtest::Append(out, qvtest::Marker());
    qvtest::Append(out, qvtest::MainHeader());
    for (const Bytes& b : blocks) qvtest::Append(out, b);
    return out;
}

Bytes ClosingBlock(uint32_t entries, uint32_t length, uint32_t crc, uint16_t codePage) {
    Bytes body;
    qvtest::PutU32(body, entries);
    qvtest::PutU32(body, length);
    qvtest::PutU32(body, crc);
    qvtest::PutU16(body, codePage);
    return qvtest::RawBlock(kBlockClosing, kBlockFlagSkipIfUnknown, kClosingHeaderSize, body);
}

Bytes SealedArchiveOf(const std::vector<Bytes>& blocks, const Bytes& prefix, uint16_t codePage) {
    Bytes archive = qvtest::Marker();
    qvtest::Append(archive, qvtest::MainHeader(kMainFlagSolid, kMainHeaderSize, kSealedArchiveTag));
    uint32_t entries = 0;
    for (const Bytes& b : blocks) {
        if (b.size() > kFieldBlockType && b[kFieldBlockType] == kBlockFile) entries++;
        qvtest::Append(archive, b);
    }
    uint32_t crc = qvtest::Crc32(archive);
    qvtest::Append(archive, ClosingBlock(entries, static_cast<uint32_t>(archive.size() + kClosingHeaderSize), crc,
                                         codePage));
    Bytes out = prefix;
    qvtest::Append(out, archive);
    return out;
}

namespace {

void ListInto(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        std::string full = dir + "/" + name;
        if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            out.push_back(prefix + name + "/");
            ListInto(full, prefix + name + "/", out);
        } else {
            out.push_back(prefix + name);
        }
    }
    closedir(d);
}

}  // namespace

std::vector<std::string> ListTree(const std::string& dir) {
    std::vector<std::string> out;
    ListInto(dir, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace qvtest
