#include "tools/selection.h"

#include <stdlib.h>
#include <wctype.h>

namespace {

// The text as wide characters in the locale's character set, folded to one
// case and one separator; bytes as they are where it does not convert.
std::wstring Folded(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    size_t n = mbstowcs(&wide[0], text.c_str(), wide.size());
    if (n == static_cast<size_t>(-1)) {
        n = text.size();
        for (size_t i = 0; i < n; i++) wide[i] = static_cast<unsigned char>(text[i]);
    }
    wide.resize(n);
    for (wchar_t& c : wide) c = c == L'\\' ? L'/' : static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    return wide;
}

// Wildcard match of the whole of name; a '*' gives back what it took when
// the rest fails.
bool Matches(const std::wstring& pattern, const std::wstring& name) {
    size_t p = 0, n = 0, starP = std::wstring::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            starP = ++p;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
            p++;
            n++;
        } else if (starP != std::wstring::npos) {
            p = starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') p++;
    return p == pattern.size();
}

}  // namespace

bool PatternSelects(const std::string& pattern, const std::string& name) {
    std::wstring p = Folded(pattern), n = Folded(name);
    if (Matches(p, n)) return true;
    for (size_t i = 0; i < n.size(); i++)
        if (n[i] == L'/' && Matches(p, n.substr(0, i))) return true;
    return false;
}

std::vector<EntrySelection> PlanSelection(const std::vector<std::string>& patterns,
                                          const std::vector<SelectionEntry>& entries, std::vector<bool>* used) {
    used->assign(patterns.size(), false);
    std::vector<EntrySelection> plan(entries.size(), kSelectInstall);
    if (patterns.empty()) return plan;
    size_t end = 0;  // one past the last selected entry
    for (size_t i = 0; i < entries.size(); i++) {
        bool selected = false;
        for (size_t k = 0; k < patterns.size(); k++)
            if (PatternSelects(patterns[k], entries[i].Shown)) selected = (*used)[k] = true;
        plan[i] = selected ? kSelectInstall : kSelectPassOver;
        if (selected) end = i + 1;
    }
    bool stateNeeded = false;  // the next file entry is decoded and continues the state
    for (size_t i = entries.size(); i-- > 0;) {
        if (i >= end) plan[i] = kSelectStop;
        else if (plan[i] == kSelectPassOver && entries[i].File && stateNeeded) plan[i] = kSelectDecodeOnly;
        if (entries[i].File) stateNeeded = entries[i].Solid && (plan[i] == kSelectInstall || plan[i] == kSelectDecodeOnly);
    }
    return plan;
}
