// Writes the seed corpus of the fuzz targets: small valid installers and
// packed streams made with the test-side builders, so that fuzzing starts
// from inputs that reach every stage of an installation.
//
//   fuzz_seeds DIR   writes DIR/TARGET/* for every target
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/archive_builder.h"
#include "support/bitwriter.h"
#include "support/install_fixtures.h"

namespace {

using qvtest::Bytes;

using qvtest::ToBytes;
const auto Entry = qvtest::PackedEntry;
const auto Literal = qvtest::LiteralEntry;

// Literals, a long match, a short match, a repeat, a recent distance and a
// switch to new tables, with the bytes they stand for.
Bytes Matches(bool solid, std::string* data) {
    qvtest::LzWriter w;
    if (solid)
        w.current = qvtest::GeneralLengths();
    else
        w.Tables(qvtest::GeneralLengths());
    const std::string head = "Quorvanel ";
    for (char c : head) w.Literal(static_cast<uint8_t>(c));
    w.Match(10, 10);
    w.ShortMatch(1);
    w.RepeatLast();
    w.RecentMatch(0, 0, 0);
    w.SwitchTables(qvtest::GeneralLengths(), true);
    w.Literal('!');
    *data = head + head + "  " + "  " + "  " + "!";
    return w.Finish();
}

Bytes Archive(const std::vector<Bytes>& blocks, const Bytes& prefix = Bytes()) {
    return qvtest::ArchiveOf(blocks, prefix);
}

bool Write(const std::string& path, const Bytes& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

void PutU24(Bytes& out, uint32_t v) {
    qvtest::PutU8(out, static_cast<uint8_t>(v));
    qvtest::PutU16(out, static_cast<uint16_t>(v >> 8));
}

// The decode target's input: sizes, split and flags, then packed data.
Bytes DecodeInput(const Bytes& first, uint32_t size1, const Bytes& second, uint32_t size2,
                  uint8_t flags) {
    Bytes out;
    PutU24(out, size1);
    PutU24(out, size2);
    qvtest::PutU16(out, static_cast<uint16_t>(first.size()));
    qvtest::PutU8(out, flags);
    qvtest::Append(out, first);
    qvtest::Append(out, second);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 64;
    }
    std::string dir = argv[1];
    for (const char* sub : {"", "/install", "/walk", "/decode", "/packlist", "/roundtrip"})
        mkdir((dir + sub).c_str(), 0777);

    std::string matched, matchedSolid;
    Bytes packedMatches = Matches(false, &matched);
    Bytes packedSolid = Matches(true, &matchedSolid);

    std::vector<Bytes> archives;
    archives.push_back(Archive({qvtest::FileBlock(Literal("FILE_ID.DIZ", "Quorvanel Lite", false)),
                                qvtest::FileBlock(Literal("DOC/README.TXT", "read me", true)),
                                qvtest::FileBlock(Entry("QRVNL.EXE", packedSolid, matchedSolid,
                                                         true)),
                                qvtest::EndBlock()}));
    auto settings = Literal("QUORZIP.SET", "[settings]", true);
    settings.attributes = 0x21;
    auto dirEntry = Literal("EMPTY", "", true);
    dirEntry.attributes = 0x10;
    auto old = Literal("OLD.TXT", "version 1.3", true);
    old.versionNeeded = 13;
    archives.push_back(Archive({qvtest::FileBlock(Entry("A.TXT", packedMatches, matched, false)),
                                qvtest::SubBlock(ToBytes("sub-block")),
                                qvtest::FileBlock(settings), qvtest::FileBlock(dirEntry),
                                qvtest::FileBlock(old)},
                               qvtest::ImagePrefix(1024)));
    auto continued = Literal("PART.TXT", "continued", false);
    continued.flags |= 0x02;
    archives.push_back(Archive({qvtest::FileBlock(continued)}));
    // The old signature, found behind an image that carries "RSFX".
    Bytes oldFormat = qvtest::ImagePrefix(256, true);
    Bytes header = qvtest::OldSignature();
    qvtest::PutU8(header, 0);
    qvtest::PutU16(header, 13);
    header.resize(13, 0);
    qvtest::Append(oldFormat, header);
    auto summed = Literal("SUM.TXT", "rotating sum", false);
    summed.dataCrc = qvtest::RotSum16(ToBytes("rotating sum"));
    qvtest::Append(oldFormat, qvtest::FileBlock(summed));
    archives.push_back(oldFormat);

    bool ok = true;
    for (size_t i = 0; i < archives.size(); i++) {
        std::string name = "/seed" + std::to_string(i);
        ok &= Write(dir + "/install" + name, archives[i]);
        ok &= Write(dir + "/walk" + name, archives[i]);
    }

    Bytes lit = ToBytes("literal bytes only");
    Bytes packedLit = qvtest::PackLiterals(lit.data(), lit.size(), false);
    Bytes packedLitSolid = qvtest::PackLiterals(lit.data(), lit.size(), true);
    ok &= Write(dir + "/decode/seed0",
                DecodeInput(packedMatches, static_cast<uint32_t>(matched.size()), packedSolid,
                            static_cast<uint32_t>(matchedSolid.size()), 1));
    ok &= Write(dir + "/decode/seed1",
                DecodeInput(packedLit, static_cast<uint32_t>(lit.size()), packedLitSolid,
                            static_cast<uint32_t>(lit.size()), 1 | 4));
    ok &= Write(dir + "/decode/seed2",
                DecodeInput(packedMatches, static_cast<uint32_t>(matched.size()), Bytes(), 0, 2));
    // List files as people write them, with comments, blank lines, both
    // separators and line ends, and a name the installer refuses.
    ok &= Write(dir + "/packlist/seed0", ToBytes("# product\nA.TXT\n\nDOC/B.TXT\r\nDOC\\SUB\\C.TXT\n"));
    ok &= Write(dir + "/packlist/seed1", ToBytes("DOC/SUB/C.TXT\nCON\n"));
    ok &= Write(dir + "/packlist/seed2", ToBytes("A.TXT\na.txt\n../OUTSIDE.TXT\n"));
    // Data with repeats near and far, literals and runs, in a few entries.
    Bytes mixed = ToBytes("\x1bQuorvanel Quorvanel Quorvanel ");
    for (int i = 0; i < 300; i++) mixed.push_back(static_cast<uint8_t>(i * 37));
    mixed.insert(mixed.end(), 200, 'a');
    Bytes text = ToBytes("\x0c");
    for (int i = 0; i < 40; i++) qvtest::Append(text, ToBytes("line " + std::to_string(i % 7) + " of the file\n"));
    ok &= Write(dir + "/roundtrip/seed0", mixed);
    ok &= Write(dir + "/roundtrip/seed1", text);
    if (!ok) {
        fprintf(stderr, "fuzz_seeds: cannot write the seeds into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
