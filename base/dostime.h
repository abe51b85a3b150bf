// The MS-DOS date and time of a file entry: the date in the high 16 bits
// (years since 1980 in 7 bits, month in 4, day in 5), the time in the low
// 16 (hour in 5 bits, minute in 6, seconds halved in 5), a wall-clock time
// without a time zone. The one place that packs and unpacks it.
#ifndef QUORVANEL_BASE_DOSTIME_H
#define QUORVANEL_BASE_DOSTIME_H

#include <stdint.h>

struct DosTimeFields {
    uint32_t Year;  // 1980 .. 2107
    uint32_t Month;  // 1 .. 12 when valid
    uint32_t Day;
    uint32_t Hour;
    uint32_t Minute;
    uint32_t Second;  // even
};

// Fields out of range are packed as they stand, masked to their bits;
// a year before 1980 is not representable (callers clamp).
uint32_t PackDosDateTime(const DosTimeFields* fields);
DosTimeFields UnpackDosDateTime(uint32_t dosDateTime);

#endif
