#include "pack/progressline.h"

#include <time.h>

namespace {

int64_t MonotonicMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

ProgressLine StartProgressLine(FILE* out, const char* phase) {
    ProgressLine line = {out, phase, nullptr, -1, 0, 0};
    return line;
}

void UpdateProgressLine(void* user, uint64_t done, uint64_t total) {
    ProgressLine* p = static_cast<ProgressLine*>(user);
    if (!p->Out) return;
    int32_t permille = total ? static_cast<int32_t>(done * 1000 / total) : 1000;
    if (permille == p->LastPermille) return;
    int64_t now = p->Clock ? p->Clock() : MonotonicMs();
    bool finished = done >= total;
    if (p->LastPermille >= 0 && !finished && now - p->LastDrawMs < kProgressIntervalMs) return;
    p->LastPermille = permille;
    p->LastDrawMs = now;
    p->Redraws++;
    char bar[31];
    int32_t filled = permille * 30 / 1000;
    for (int32_t i = 0; i < 30; i++) bar[i] = i < filled ? '#' : '.';
    bar[30] = 0;
    fprintf(p->Out, "\r%-9s [%s] %3d%%  %.1f MB", p->Phase, bar, permille / 10, static_cast<double>(done) / 1e6);
    fflush(p->Out);
}

void EndProgressLine(ProgressLine* line) {
    if (line->Out && line->LastPermille >= 0) fprintf(line->Out, "\r%60s\r", "");
    line->LastPermille = -1;
}
