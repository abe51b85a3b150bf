// The byte buffer every test-side helper works with.
#ifndef QUORVANEL_TESTS_SUPPORT_BYTES_H
#define QUORVANEL_TESTS_SUPPORT_BYTES_H

#include <stdint.h>

#include <vector>

namespace qvtest {

using Bytes = std::vector<uint8_t>;

}  // namespace qvtest

#endif
