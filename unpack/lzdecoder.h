// LZ decoder over the 1 MB sliding window.
#ifndef QUORVANEL_UNPACK_LZDECODER_H
#define QUORVANEL_UNPACK_LZDECODER_H

#include <stdint.h>

struct UnpackContext;

// Decodes the current entry's packed data (starting at the stream position)
// into the window and OutputFile; solid non-zero continues the state of the
// previous entry.
void DecompressFile(UnpackContext* ctx, uint8_t* window, uint32_t solid);
void ResetDecoder(UnpackContext* ctx, uint32_t solid);
void CopyMatch(UnpackContext* ctx);
void FlushWindow(UnpackContext* ctx);
uint32_t WriteOutput(UnpackContext* ctx, const uint8_t* data, uint32_t count);

#endif
