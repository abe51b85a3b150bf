#include "base/dostime.h"

uint32_t PackDosDateTime(const DosTimeFields* f) {
    uint32_t date = ((f->Year - 1980) & 0x7F) << 9 | (f->Month & 0x0F) << 5 | (f->Day & 0x1F);
    uint32_t time = (f->Hour & 0x1F) << 11 | (f->Minute & 0x3F) << 5 | ((f->Second / 2) & 0x1F);
    return date << 16 | time;
}

DosTimeFields UnpackDosDateTime(uint32_t dosDateTime) {
    uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    DosTimeFields f;
    f.Year = ((date >> 9) & 0x7F) + 1980;
    f.Month = (date >> 5) & 0x0F;
    f.Day = date & 0x1F;
    f.Hour = (time >> 11) & 0x1F;
    f.Minute = (time >> 5) & 0x3F;
    f.Second = (time & 0x1F) * 2;
    return f;
}
