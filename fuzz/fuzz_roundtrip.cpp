// The packer and the installer's decoder together: random data packed at a
// level the input chooses, in up to four solid entries, must decode to
// exactly the same bytes with matching checksums.
//
// Input: one byte (level 1..5 from its low bits, the number of entries from
// the next two), then the data, cut into entries at equal shares.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "pack/lzencoder.h"
#include "support/unpack_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    int level = kMinLevel + data[0] % (kMaxLevel - kMinLevel + 1);
    size_t count = 1 + ((data[0] >> 3) & 3);
    const uint8_t* body = data + 1;
    size_t length = size - 1;
    std::vector<std::vector<uint8_t>> entries;
    for (size_t i = 0; i < count; i++) {
        size_t from = length * i / count, to = length * (i + 1) / count;
        entries.emplace_back(body + from, body + to);
    }
    std::vector<std::vector<uint8_t>> packed = PackBuffers(entries, level);
    if (packed.size() != entries.size()) abort();

    static qvtest::Session* session = new qvtest::Session();
    for (size_t i = 0; i < entries.size(); i++) {
        qvtest::Entry e;
        e.packed = packed[i];
        e.unpackedSize = static_cast<uint32_t>(entries[i].size());
        e.solid = i > 0;
        qvtest::Result r = session->Run(e);
        if (r.output != entries[i]) abort();
        if (r.checksum != qvtest::ExpectedChecksum(entries[i])) abort();
    }
    return 0;
}
