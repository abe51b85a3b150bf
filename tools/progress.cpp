#include "tools/progress.h"

#include <chrono>

#include "tools/listing.h"

namespace {

enum { kRedrawIntervalMs = 100 };  // of the progress line on a terminal

}  // namespace

void ExpectEntry(ProgressDisplay* p, uint64_t unpacked) {
    p->Sizes.push_back(unpacked);
    p->Total += unpacked;
}

std::string ShownCaption(const ProgressDisplay* p, const char* caption) {
    std::string text = caption;
    if (text == p->ArchiveCore) return ShownStoredName(caption, kCharsetLocale);
    if (!p->TargetCore.empty() && text.compare(0, p->TargetCore.size(), p->TargetCore) == 0)
        return ShownStoredName(p->TargetCore.c_str(), kCharsetLocale) +
               ShownStoredName(caption + p->TargetCore.size(), p->Charset);
    return ShownStoredName(caption, p->Charset);
}

void EndProgressLine(ProgressDisplay* p) {
    if (p->LineOpen) fputs("\r\033[K", p->Out);
    p->LineOpen = false;
}

void ShowEntryStarted(ProgressDisplay* p, const char* name) {
    if (p->Shown > 0 && p->Shown <= p->Sizes.size()) p->Done += p->Sizes[p->Shown - 1];
    p->Shown++;
    if (p->Quiet) return;
    if (!p->Terminal) {
        fprintf(p->Out, "installing %s\n", ShownCaption(p, name).c_str());
        return;
    }
    // Redrawn at most ten times a second, however small the files.
    int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
    if (p->LineOpen && p->LastDrawMs >= 0 && now - p->LastDrawMs < kRedrawIntervalMs) return;
    p->LastDrawMs = now;
    unsigned percent = p->Total ? static_cast<unsigned>(p->Done * 100 / p->Total) : 0;
    fprintf(p->Out, "\r\033[K[%3u%%] %zu/%zu %s", percent, p->Shown, p->Sizes.size(), ShownCaption(p, name).c_str());
    fflush(p->Out);
    p->LineOpen = true;
}
