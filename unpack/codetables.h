// The in-band code-length tables of the packed stream.
#ifndef QUORVANEL_UNPACK_CODETABLES_H
#define QUORVANEL_UNPACK_CODETABLES_H

struct UnpackContext;

// Reads one table set at the current bit position and rebuilds its tables.
// An audio set builds only the audio tables, which decode no data: the LZ
// tables before it stay in force.
void ReadCodeTables(UnpackContext* ctx);
// After an entry's last symbol: reads the table set a solid archive places
// at the tail of the entry for the one after it.
void CheckTrailingTables(UnpackContext* ctx);

#endif
