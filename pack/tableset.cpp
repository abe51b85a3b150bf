#include "pack/tableset.h"

#include <string.h>

#include "pack/huffman.h"

namespace {

// Symbols 16, 17, 18.
const uint32_t kRunExtraBits[3] = {kRepeatRunBits, kZerosRunBits, kLongZerosRunBits};
const uint32_t kRunBase[3] = {kRepeatRunBase, kZerosRunBase, kLongZerosRunBase};
const uint32_t kRunMax[3] = {kRepeatRunBase + (1 << kRepeatRunBits) - 1, kZerosRunBase + (1 << kZerosRunBits) - 1,
                             kLongZerosRunBase + (1 << kLongZerosRunBits) - 1};
const uint32_t kUnusable = 1u << 20;

// Cheapest op sequence for the given pre-code prices (kUnusable: no code).
// A run may reach past the end of the set: the decoder stops it there.
uint32_t CheapestOps(const uint8_t* lengths, const uint8_t* base, const uint32_t* price,
                     std::vector<PreCodeOp>& ops) {
    const int n = kLzTableSetSize;
    uint32_t best[kLzTableSetSize + 1];
    PreCodeOp choice[kLzTableSetSize];
    uint16_t step[kLzTableSetSize];
    // zeros[i]: zero lengths from i on; same[i]: lengths from i on equal to
    // the one at i - 1 (what symbol 16 repeats).
    uint16_t zeros[kLzTableSetSize + 1], same[kLzTableSetSize + 1];
    zeros[n] = same[n] = 0;
    for (int i = n - 1; i >= 0; i--) {
        zeros[i] = lengths[i] == 0 ? zeros[i + 1] + 1 : 0;
        same[i] = (i > 0 && lengths[i] == lengths[i - 1]) ? same[i + 1] + 1 : 0;
    }
    best[n] = 0;
    for (int i = n - 1; i >= 0; i--) {
        uint8_t sym = static_cast<uint8_t>((lengths[i] - base[i]) & 15);
        uint32_t cost = price[sym] + best[i + 1];
        choice[i] = {sym, 0};
        step[i] = 1;
        for (int r = 0; r < 3; r++) {
            uint32_t symbolPrice = price[kPreCodeRepeat + r];
            if (symbolPrice >= kUnusable) continue;
            uint32_t avail = r == 0 ? same[i] : zeros[i];
            if (r == 0 && i == 0) continue;  // nothing before position 0 to repeat
            bool toEnd = static_cast<int>(avail) == n - i;
            // The longest run, or one a little shorter that leaves the rest
            // to a run of its own: other lengths are never cheaper.
            uint32_t longest = toEnd ? kRunMax[r] : avail < kRunMax[r] ? avail : kRunMax[r];
            for (uint32_t cut = 0; cut <= kRunBase[r] && cut + kRunBase[r] <= longest; cut++) {
                uint32_t len = longest - cut;
                int next = i + static_cast<int>(len) > n ? n : i + static_cast<int>(len);
                uint32_t c = symbolPrice + kRunExtraBits[r] + best[next];
                if (c < cost) {
                    cost = c;
                    choice[i] = {static_cast<uint8_t>(kPreCodeRepeat + r), static_cast<uint8_t>(len - kRunBase[r])};
                    step[i] = static_cast<uint16_t>(next - i);
                }
                if (next == n && !toEnd) break;
            }
        }
        best[i] = cost;
    }
    ops.clear();
    for (int i = 0; i < n; i += step[i]) ops.push_back(choice[i]);
    return best[0];
}

uint32_t PlanOneMode(const uint8_t* lengths, const uint8_t* base, uint8_t* preLengths,
                     std::vector<PreCodeOp>& ops, int rounds) {
    uint32_t price[kPreCodeSymbols];
    for (uint32_t& p : price) p = 5;
    uint32_t total = CheapestOps(lengths, base, price, ops);
    // Alternate between the op sequence and the pre-code built for it; each
    // round can only lower the cost, a few rounds settle it.
    for (int round = 0; round < rounds; round++) {
        uint32_t counts[kPreCodeSymbols] = {0};
        for (const PreCodeOp& op : ops) counts[op.Symbol]++;
        BuildCodeLengths(counts, kPreCodeSymbols, kMaxCodeBits, preLengths);
        for (int s = 0; s < kPreCodeSymbols; s++) price[s] = preLengths[s] ? preLengths[s] : kUnusable;
        total = CheapestOps(lengths, base, price, ops);
    }
    // The pre-code must match the final ops: rebuild it for them.
    uint32_t counts[kPreCodeSymbols] = {0};
    for (const PreCodeOp& op : ops) counts[op.Symbol]++;
    BuildCodeLengths(counts, kPreCodeSymbols, kMaxCodeBits, preLengths);
    total = 0;
    for (const PreCodeOp& op : ops)
        total += preLengths[op.Symbol] + (op.Symbol >= kPreCodeRepeat ? kRunExtraBits[op.Symbol - kPreCodeRepeat] : 0);
    return total + 2 + kPreCodeLengthBits * kPreCodeSymbols;
}

}  // namespace

void PlanTableSet(const uint8_t* lengths, const uint8_t* previous, TableSetPlan* plan) {
    static const uint8_t kZero[kLzTableSetSize] = {0};
    TableSetPlan delta;
    delta.Keep = true;
    delta.Bits = PlanOneMode(lengths, previous, delta.PreLengths, delta.Ops, 3);
    plan->Keep = false;
    plan->Bits = PlanOneMode(lengths, kZero, plan->PreLengths, plan->Ops, 3);
    if (delta.Bits < plan->Bits) *plan = delta;
}

uint32_t EstimateTableSetBits(const uint8_t* lengths, const uint8_t* previous) {
    static const uint8_t kZero[kLzTableSetSize] = {0};
    uint8_t preLengths[kPreCodeSymbols];
    std::vector<PreCodeOp> ops;
    ops.reserve(kLzTableSetSize);
    uint32_t delta = PlanOneMode(lengths, previous, preLengths, ops, 0);
    uint32_t absolute = PlanOneMode(lengths, kZero, preLengths, ops, 0);
    return delta < absolute ? delta : absolute;
}

void WriteTableSet(BitSink* sink, const TableSetPlan& plan) {
    PutBits(sink, plan.Keep ? 1 : 0, 2);  // audio flag 0, then the keep flag
    for (int s = 0; s < kPreCodeSymbols; s++) PutBits(sink, plan.PreLengths[s], kPreCodeLengthBits);
    uint16_t codes[kPreCodeSymbols];
    AssignCanonicalCodes(plan.PreLengths, kPreCodeSymbols, codes);
    for (const PreCodeOp& op : plan.Ops) {
        PutBits(sink, codes[op.Symbol], plan.PreLengths[op.Symbol]);
        if (op.Symbol >= kPreCodeRepeat) PutBits(sink, op.Extra, kRunExtraBits[op.Symbol - kPreCodeRepeat]);
    }
}
