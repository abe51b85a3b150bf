// Which entries qvinstall lists, tests or installs when names are given:
// stored names or wildcards, matched as 7z and unzip match them.
#ifndef QUORVANEL_TOOLS_SELECTION_H
#define QUORVANEL_TOOLS_SELECTION_H

#include <string>
#include <vector>

#include "install/driver.h"

// Whether pattern selects the entry shown as name: '*' stands for any run
// of characters ('/' and '\' among them), '?' for one character; '/' and
// '\' are the same separator; letters match in either case, as on Windows.
// A pattern that matches a directory part of name selects it as well.
bool PatternSelects(const std::string& pattern, const std::string& name);

struct SelectionEntry {
    std::string Shown;  // the name as the listing shows it
    bool File;          // a file entry (a directory entry is never decoded)
    bool Solid;         // it continues the decoder state of the file entry before it
};

// What becomes of each entry when patterns are given (none: all entries):
// the selected ones are installed, nothing after the last of them is
// decoded, and an unselected file entry before it is decoded in skip mode
// only where the next file entry is solid and decoded. used[i] tells whether
// patterns[i] selected anything.
std::vector<EntrySelection> PlanSelection(const std::vector<std::string>& patterns,
                                          const std::vector<SelectionEntry>& entries, std::vector<bool>* used);

#endif
