// Table sets: the 374 code lengths of the literal, distance and repeat
// tables, written as pre-code symbols either absolute or as deltas against
// the set before (keep flag), whichever is shorter, with runs 16/17/18.
#ifndef QUORVANEL_PACK_TABLESET_H
#define QUORVANEL_PACK_TABLESET_H

#include <stdint.h>

#include <vector>

#include "base/format.h"
#include "pack/bitsink.h"

struct PreCodeOp {
    uint8_t Symbol;  // 0..15 a length (or delta), 16 repeat, 17/18 zeros
    uint8_t Extra;   // run length minus its base, in 2, 3 or 7 bits
};

struct TableSetPlan {
    bool Keep = false;
    uint8_t PreLengths[kPreCodeSymbols] = {0};
    std::vector<PreCodeOp> Ops;
    uint32_t Bits = 0;  // the whole set: flags, pre-code lengths and ops
};

// Works out the shortest coding of lengths[0..374) given the lengths the
// decoder holds from the set before (all zero before the first set).
void PlanTableSet(const uint8_t* lengths, const uint8_t* previous, TableSetPlan* plan);
void WriteTableSet(BitSink* sink, const TableSetPlan& plan);
// What such a set takes, roughly (a few percent above the plan), at a
// quarter of the work.
uint32_t EstimateTableSetBits(const uint8_t* lengths, const uint8_t* previous);

#endif
