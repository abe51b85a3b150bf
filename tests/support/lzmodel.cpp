#include "support/lzmodel.h"

namespace qvtest {

uint8_t LzModel::Behind(uint32_t distance) const {
    if (distance == 0) distance = 0x100000;
    return distance <= output.size() ? output[output.size() - distance] : 0;
}

void LzModel::Copy(uint32_t length, uint32_t distance) {
    recentDistances[recentCount & 3] = distance;
    recentCount++;
    prevLength = length;
    prevDistance = distance;
    for (uint32_t i = 0; i < length; i++) output.push_back(Behind(distance));
}

uint32_t RecentMatchLength(uint32_t slotValue, uint32_t distance) {
    return slotValue + 2 + (distance >= 0x101 ? 1 : 0) + (distance >= 0x2000 ? 1 : 0) +
           (distance >= 0x40000 ? 1 : 0);
}

void LzModel::Literal(LzWriter& w, uint8_t byte) {
    w.Literal(byte);
    output.push_back(byte);
}

void LzModel::Match(LzWriter& w, uint32_t length, uint32_t distance) {
    w.Match(length, distance);
    Copy(length, distance);
}

void LzModel::ShortMatch(LzWriter& w, uint32_t distance) {
    w.ShortMatch(distance);
    Copy(2, distance);
}

void LzModel::RecentMatch(LzWriter& w, int which, int lengthSlot, uint32_t extra) {
    w.RecentMatch(which, lengthSlot, extra);
    uint32_t distance = recentDistances[(recentCount - 1 - which) & 3];
    Copy(RecentMatchLength(LengthSlot(lengthSlot).base + extra, distance), distance);
}

void LzModel::RepeatLast(LzWriter& w) {
    w.RepeatLast();
    Copy(prevLength, prevDistance);
}

}  // namespace qvtest
