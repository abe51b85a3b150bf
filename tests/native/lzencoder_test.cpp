#include <gtest/gtest.h>

#include "pack/lzencoder.h"
#include "support/unpack_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pseudo(size_t n, uint32_t seed, int alphabet) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>((seed >> 16) % alphabet);
    }
    return b;
}

// Decodes the entries one after another in one session, as the installer does.
void ExpectRoundTrip(const std::vector<Bytes>& entries, int level) {
    std::vector<Bytes> packed = PackBuffers(entries, level);
    ASSERT_EQ(packed.size(), entries.size());
    testunpack::Session session;
    for (size_t i = 0; i < entries.size(); i++) {
        testunpack::Entry entry;
        entry.packed = packed[i];
        entry.unpackedSize = static_cast<uint32_t>(entries[i].size());
        entry.solid = i > 0;
        testunpack::Result result = session.Run(entry);
        ASSERT_EQ(result.output.size(), entries[i].size()) << "entry " << i << " level " << level;
        ASSERT_TRUE(result.output == entries[i]) << "entry " << i << " level " << level;
        ASSERT_EQ(result.checksum, testunpack::ExpectedChecksum(entries[i])) << i;
    }
}

TEST(LzEncoder, SmallMixedEntriesEveryLevel) {
    std::vector<Bytes> entries = {Pseudo(1000, 1, 4), Bytes(), Pseudo(5000, 2, 256), Bytes(300, 'a'),
                                  Pseudo(20000, 3, 16)};
    for (int level = 1; level <= 5; level++) ExpectRoundTrip(entries, level);
}

}  // namespace
