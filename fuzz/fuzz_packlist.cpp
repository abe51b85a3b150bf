// The packer's reader of list files: whatever a list says, the files it
// takes lie inside the packed directory, under names the installer
// accepts, no two of which land on the same file.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "pack/archivewriter.h"

namespace {

std::string gRoot;
std::string gDir;
std::string gList;

void Touch(const std::string& path) { qvfuzz::WriteInput(path, reinterpret_cast<const uint8_t*>("x"), 1); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gRoot = qvfuzz::MakeScratchDir();
    gDir = gRoot + "/product";
    gList = gRoot + "/files.lst";
    // A small tree with names that are easy to reach from a list, and some
    // the installer would refuse.
    mkdir(gDir.c_str(), 0777);
    mkdir((gDir + "/DOC").c_str(), 0777);
    mkdir((gDir + "/DOC/SUB").c_str(), 0777);
    for (const char* name : {"A.TXT", "a.txt", "DOC/B.TXT", "DOC/SUB/C.TXT", "CON", "X.", "LPT1.TXT", " Y"})
        Touch(gDir + "/" + name);
    Touch(gRoot + "/OUTSIDE.TXT");
    atexit([] { qvfuzz::RemoveTree(gRoot); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvfuzz::WriteInput(gList, data, size);
    std::vector<PackSource> sources;
    std::string error;
    if (!CollectSources(gDir, gList, -1, &sources, &error)) {
        if (error.empty()) abort();  // a refusal always says why
        return 0;
    }
    std::set<std::string> seen;
    for (const PackSource& s : sources) {
        if (!IsSafeStoredName(s.Name.c_str()) || s.Name.size() > kMaxStoredName) abort();
        if (s.Path.compare(0, gDir.size() + 1, gDir + "/") != 0 || s.Path.find("/..") != std::string::npos) abort();
        std::string folded = s.Name;
        for (char& c : folded)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (!seen.insert(folded).second) abort();
    }
    return 0;
}
