#include "support/testdata.h"

#include <string.h>

#include <string>
#include <vector>

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

namespace {

// A fixed generator, so that the data set is the same on every machine.
struct Xorshift {
    uint32_t state;
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

// Prose from a small vocabulary with punctuation and line ends, as a
// read-me or a help file.
std::vector<uint8_t> Prose(Xorshift& r, size_t size) {
    static const char* const kWords[] = {
        "the", "installer", "copies", "files", "into", "a", "directory", "of", "your", "choice", "and", "keeps",
        "settings", "that", "you", "made", "before", "Quorvanel", "shows", "archives", "with", "names", "dates",
        "sizes", "when", "it", "starts", "press", "Enter", "to", "continue", "or", "Escape", "leave", "window",
        "program", "group", "is", "created", "for", "each", "user", "on", "this", "computer", "licence"};
    const size_t count = sizeof kWords / sizeof kWords[0];
    std::string text;
    size_t line = 0;
    while (text.size() < size) {
        std::string word = kWords[r.Below(static_cast<uint32_t>(count))];
        if (r.Below(9) == 0) word[0] = static_cast<char>(word[0] & ~0x20);
        text += word;
        line += word.size() + 1;
        uint32_t p = r.Below(14);
        text += p == 0 ? ". " : p == 1 ? ", " : " ";
        if (line > 68) {
            text += "\r\n";
            line = 0;
        }
    }
    return std::vector<uint8_t>(text.begin(), text.begin() + static_cast<long>(size));
}

// Records of a program image: small integers, short repeats a few bytes
// back and address fields that grow, the stuff of tables and code.
std::vector<uint8_t> Records(Xorshift& r, size_t size) {
    std::vector<uint8_t> out;
    uint32_t address = 0x401000;
    while (out.size() < size) {
        uint8_t opcode = static_cast<uint8_t>(0x50 + r.Below(12) * 4);
        out.push_back(opcode);
        out.push_back(static_cast<uint8_t>(r.Below(4) == 0 ? r.Below(256) : 0x45 + r.Below(3)));
        address += 4 + r.Below(64);
        for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(address >> (8 * i)));
        if (r.Below(3) == 0 && out.size() > 16) {
            size_t back = 2 + r.Below(12);
            out.push_back(out[out.size() - back]);
            out.push_back(out[out.size() - back]);
        }
        out.push_back(static_cast<uint8_t>(r.Below(3)));
    }
    out.resize(size);
    return out;
}

// A copy of earlier data with scattered edits: long matches far back.
std::vector<uint8_t> Edited(Xorshift& r, const std::vector<uint8_t>& from) {
    std::vector<uint8_t> out = from;
    for (size_t i = 0; i < out.size(); i += 200 + r.Below(2000)) out[i] = static_cast<uint8_t>(r.Next());
    return out;
}

std::vector<uint8_t> XorNoise(Xorshift& r, size_t size) {
    std::vector<uint8_t> out(size);
    for (uint8_t& b : out) b = static_cast<uint8_t>(r.Next() >> 24);
    return out;
}

}  // namespace

std::vector<Bytes> PackingDataSet() {
    Xorshift r = {0x51F15EEDu};
    std::vector<std::vector<uint8_t>> entries;
    entries.push_back(Prose(r, 90000));
    entries.push_back(Records(r, 110000));
    entries.push_back(Edited(r, entries[0]));
    entries.push_back(XorNoise(r, 20000));
    entries.push_back(Edited(r, entries[1]));
    entries.back().resize(60000);
    entries.push_back(std::vector<uint8_t>(3000, 0x20));
    return entries;
}

}  // namespace qvtest
