// Test-side helpers for whole installations: entries whose packed data
// stands for given bytes, archives made of them, and the tree an
// installation leaves behind.
#ifndef QUORVANEL_TESTS_SUPPORT_INSTALL_FIXTURES_H
#define QUORVANEL_TESTS_SUPPORT_INSTALL_FIXTURES_H

#include <string>
#include <vector>

#include "support/archive_builder.h"
#include "support/bytes.h"

namespace qvtest {

Bytes ToBytes(const std::string& s);

// An entry with the given packed data that unpacks to data; solid entries
// continue from the window and tables of the entry before.
qvtest::FileSpec PackedEntry(const std::string& name, const Bytes& packed,
                              const std::string& data, bool solid);
// An entry whose packed data is made of literals only.
qvtest::FileSpec LiteralEntry(const std::string& name, const std::string& data, bool solid);

// Marker, a plain main header and the blocks, behind prefix.
Bytes ArchiveOf(const std::vector<Bytes>& blocks, const Bytes& prefix = Bytes());
// The same archive sealed, as qvpack writes it: the main header announces
// the closing block, which follows the blocks with the number of file
// blocks among them, the archive's length and its CRC-32.
Bytes SealedArchiveOf(const std::vector<Bytes>& blocks, const Bytes& prefix = Bytes(), uint16_t codePage = 1252);
// A closing block with the given fields (its checksum right).
Bytes ClosingBlock(uint32_t entries, uint32_t length, uint32_t crc, uint16_t codePage = 1252);

// Everything below a native directory path as sorted relative paths with
// '/'; directories end with '/'.
std::vector<std::string> ListTree(const std::string& dir);

}  // namespace qvtest

#endif
