#include "support/testdata.h"

#include <string.h>

namespace qvtest {

namespace {

uint32_t NextSeed(uint32_t* seed) {
    *seed = *seed * 1103515245u + 12345u;
    return *seed;
}

}  // namespace

Bytes Noise(size_t n, uint32_t seed, int alphabet) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>((NextSeed(&seed) >> 16) % static_cast<uint32_t>(alphabet));
    return b;
}

Bytes WordText(size_t n, uint32_t seed) {
    static const char* words[] = {"install", "window", "the", "archive", "Quorvanel", "directory", "of", "file",
                                  "\n", "  ", "return 0;", "if (", ") {", "}\n", "size_t", "uint32_t"};
    Bytes b;
    while (b.size() < n) {
        NextSeed(&seed);
        const char* w = words[(seed >> 16) % 16];
        b.insert(b.end(), w, w + strlen(w));
        if ((seed >> 8) % 7 == 0) b.push_back(static_cast<uint8_t>('0' + (seed >> 20) % 10));
        b.push_back(' ');
    }
    b.resize(n);
    return b;
}

Bytes Mixed(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) {
        NextSeed(&seed);
        b[i] = (i / 4096) % 3 == 0 ? static_cast<uint8_t>(seed >> 24) : static_cast<uint8_t>((i * 7) ^ (i >> 9));
    }
    return b;
}

Bytes MatchMaterial(size_t n) {
    Bytes b;
    uint32_t seed = 12345;
    auto next = [&seed]() { return NextSeed(&seed) >> 16; };
    static const char* words[] = {"match", "finder", "tree", " ", "window", "\n", "0x", "distance"};
    while (b.size() < n) {
        uint32_t kind = next() % 8;
        if (kind < 3) {
            for (int i = 0; i < 12; i++) {
                const char* w = words[next() % 8];
                b.insert(b.end(), w, w + strlen(w));
            }
        } else if (kind < 6 && b.size() > 64) {
            size_t back = 1 + next() % (b.size() - 1);
            if (next() % 3 == 0 && b.size() > 0x2400) back = 0x2000 + next() % (b.size() - 0x2000);
            size_t from = b.size() - back, length = 4 + next() % 300;
            for (size_t i = 0; i < length; i++) b.push_back(b[from + i]);
            if (next() % 2) b.back() ^= 0x20;
        } else if (kind == 6) {
            b.insert(b.end(), 3 + next() % 40, static_cast<uint8_t>(next()));
        } else {
            for (int i = 0; i < 20; i++) b.push_back(static_cast<uint8_t>(next()));
        }
    }
    b.resize(n);
    return b;
}

}  // namespace qvtest
