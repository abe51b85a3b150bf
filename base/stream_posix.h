// For native programs only (tools, tests, fuzz targets): a C library stream
// they opened themselves (fmemopen, a pipe) used as a FileStream. The
// FileStream then owns it; CloseFile closes it.
#ifndef QUORVANEL_BASE_STREAM_POSIX_H
#define QUORVANEL_BASE_STREAM_POSIX_H

#include <stdio.h>

#include "base/stream.h"

FileStream* AdoptFile(FILE* file);

#endif
