// The decode loop written out plainly, one rule at a time: every symbol
// through the decode rule, every match copied one byte at a time through the
// ring. Tests run it beside DecompressFile on the same input and expect the
// same bytes and the same state, for valid and for damaged data alike.
#ifndef QUORVANEL_TESTS_SUPPORT_REFERENCE_DECODER_H
#define QUORVANEL_TESTS_SUPPORT_REFERENCE_DECODER_H

#include <stdint.h>

#include "base/context.h"

namespace qvtest {

// What DecompressFile does, for the same per-entry contract.
void ReferenceDecompressFile(UnpackContext* ctx, uint32_t solid);

}  // namespace qvtest

#endif
