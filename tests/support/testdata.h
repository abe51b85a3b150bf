// Test data made from a seed: the same seed gives the same bytes on every
// build. One set for every test, fuzz seed and benchmark that needs bytes
// of a known kind.
#ifndef QUORVANEL_TESTS_SUPPORT_TESTDATA_H
#define QUORVANEL_TESTS_SUPPORT_TESTDATA_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "support/bytes.h"

namespace qvtest {

// Bytes of a linear congruential generator, each below alphabet: noise that
// no coder shrinks (with 256), or shrinks to its entropy.
Bytes Noise(size_t n, uint32_t seed, int alphabet = 256);
// Words, numbers and punctuation of program text, with repeats near and far.
Bytes WordText(size_t n, uint32_t seed);
// Stretches of noise between stretches of simple structure, like code and
// tables, 4 KB each.
Bytes Mixed(size_t n, uint32_t seed);
// What a match finder meets: text-like records, copies of earlier stretches
// (some farther back than 8 KB), runs and noise.
Bytes MatchMaterial(size_t n);
// The packer's fixed mixed data set, 373,000 bytes in six entries: prose,
// program records, an edited copy of each (long matches far back), noise
// and a run of one byte.
std::vector<Bytes> PackingDataSet();

}  // namespace qvtest

#endif
