// LZ decoder over the 1 MB sliding window.
#ifndef QUORVANEL_UNPACK_LZDECODER_H
#define QUORVANEL_UNPACK_LZDECODER_H

#include <stdint.h>

#include "base/context.h"

// Decodes the current entry's packed data (starting at the position of
// InputFile) into the window, WindowMemory, and out through the per-entry
// contract; solid non-zero continues the state of the previous entry.
void DecompressFile(UnpackContext* ctx, uint32_t solid);
void ResetDecoder(UnpackContext* ctx, uint32_t solid);
// Writes out the window's pending bytes, FlushedPos up to WindowPos.
void FlushWindow(UnpackContext* ctx);
// Writes count bytes to the entry's output and adds those that were taken
// to DataChecksum (unless in skip mode); returns how many were taken.
uint32_t WriteOutput(UnpackContext* ctx, const uint8_t* data, uint32_t count);

#endif
