// qvsweep: damages an installer in every way a single byte can, signs it
// with random signatures, or cuts it short; installs each variant into a
// fresh directory and checks the verdict against a clean installation.
//
// A verdict is right when the installation either succeeds with the tree of
// the clean installation (names, contents, attributes, times), or fails
// with every file that is there byte-identical to the clean one, nothing
// else in the target (no temporary, no damaged name) and nothing beside it.
// A crash or an installation that does not end in time is always wrong.
// A cut installer (a download that stopped early) has no right success: it
// must be refused, by qvinstall's test as by the installation, and the
// installation must leave the target empty.
// Each installation runs in a child process of its own.
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/peimage.h"
#include "install/driver.h"
#include "install/platform.h"
#include "install/walk.h"
#include "base/littleendian.h"
#include "tools/host.h"

namespace {

enum { kExitOk = 0, kExitWrongVerdict = 1, kExitInput = 2, kExitUsage = 64 };

const char kUsage[] =
    "usage: qvsweep corrupt INSTALLER [--every N] [--values V,...] [--image-every M] [--timeout S]\n"
    "       qvsweep sign INSTALLER [--count N] [--seed S] [--timeout S]\n"
    "       qvsweep truncate INSTALLER [--every N] [--qvinstall PATH] [--timeout S]\n"
    "\n"
    "corrupt  changes every N-th byte of the archive (default every byte) with\n"
    "         each XOR mask V (hex, default ff; 'all' for all 255), and every M-th\n"
    "         byte of the program image in front of it (default 64; 0 leaves the\n"
    "         image alone)\n"
    "sign     appends N random signatures (default 3000) the way signing tools\n"
    "         do: padding to 8 bytes, a certificate table of 1.2 to 9 KB, data\n"
    "         directory 4 pointed at it; every one must install identically\n"
    "truncate cuts the installer short at every N-th byte (default 4) from the\n"
    "         archive's start to the file's end (a signature included), at the\n"
    "         end of the image, behind the main header and at every entry's\n"
    "         header, data and end (each also 1 and 2 bytes before and after);\n"
    "         every cut must fail 'qvinstall test' (PATH, default the qvinstall\n"
    "         beside qvsweep) and fail its installation with the target empty\n"
    "\n"
    "Each variant is installed by a child process into a fresh directory and\n"
    "judged against a clean installation. Prints a summary line; exit status 0\n"
    "when every verdict is right, 1 when one is wrong, 2 when the installer\n"
    "cannot be used, 64 on a bad command line.\n";

struct Entry {
    bool Directory;
    std::string Content;
    mode_t Mode;
    time_t Modified;
};
using Tree = std::map<std::string, Entry>;

void Snapshot(const std::string& dir, const std::string& prefix, Tree* tree) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        Entry entry = {S_ISDIR(st.st_mode), std::string(), st.st_mode, st.st_mtime};
        if (!entry.Directory) ReadWholeFile(path, &entry.Content);
        (*tree)[prefix + name] = entry;
        if (entry.Directory) Snapshot(path, prefix + name + "/", tree);
    }
    closedir(d);
}

struct Sweep {
    std::string Root;       // scratch directory: the installer and the target, nothing else
    std::string Installer;  // Root + "/setup.exe"
    std::string Target;     // Root + "/t"
    int TimeoutSeconds = 20;
    Tree Reference;

    uint64_t Cases = 0, Identical = 0, Refused = 0, Wrong = 0, Crashes = 0, Hangs = 0;
    std::map<int, uint64_t> RefusedBy;  // result code -> cases
};

// Puts a variant where the installations take it from.
bool WriteVariant(const Sweep& sweep, const std::string& data) {
    return WriteWholeFile(sweep.Installer, data.data(), data.size());
}

// The exit status of child, -1 for a crash, -2 for a hang (the alarm the
// child set went off).
int WaitForChild(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGALRM ? -2 : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts a child process in sweep.Root: its pid in the parent, 0 in the
// child.
pid_t StartChild(const Sweep& sweep) {
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child < 0) {
        perror("qvsweep: fork");
        exit(kExitInput);
    }
    if (child == 0 && chdir(sweep.Root.c_str()) != 0) _exit(120);
    return child;
}

// Installs the file at sweep.Installer into a fresh target in a child
// process. Returns the result code, -1 for a crash, -2 for a hang.
int InstallInChild(const Sweep& sweep) {
    RemoveTree(sweep.Target);
    mkdir(sweep.Target.c_str(), 0777);
    pid_t child = StartChild(sweep);
    if (child == 0) {
        alarm(static_cast<unsigned>(sweep.TimeoutSeconds));  // a hang ends as a crash of its own kind
        InstallSilentHooks();
        char target[kPathSize];
        snprintf(target, sizeof target - 1, "%s", CorePath(sweep.Target).c_str());
        uint32_t result = InstallFromArchive(nullptr, CorePath(sweep.Installer).c_str(), target);
        _exit(static_cast<int>(result));
    }
    return WaitForChild(child);
}

// Runs "tool command INSTALLER" (a qvinstall) on the file at
// sweep.Installer in a child process, its output dropped. Returns its exit status, -1 for a
// crash, -2 for a hang.
int ToolInChild(const Sweep& sweep, const std::string& tool, const char* command) {
    pid_t child = StartChild(sweep);
    if (child == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(121);
        alarm(static_cast<unsigned>(sweep.TimeoutSeconds));  // stays set across exec
        execl(tool.c_str(), tool.c_str(), command, sweep.Installer.c_str(), static_cast<char*>(nullptr));
        _exit(122);
    }
    return WaitForChild(child);
}

// What an installation wrote beside its target (only the installer and the
// target may stand in the scratch directory), or empty.
std::string WrittenBeside(const Sweep& sweep) {
    DIR* d = opendir(sweep.Root.c_str());
    if (!d) return std::string();
    std::string found;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != ".." && name != "setup.exe" && name != "t") {
            found = "written beside the target: " + name;
            break;
        }
    }
    closedir(d);
    return found;
}

// Why the verdict on the target as it stands is wrong, or empty when it is right.
std::string Judge(const Sweep& sweep, int result) {
    std::string beside = WrittenBeside(sweep);
    if (!beside.empty()) return beside;
    Tree tree;
    Snapshot(sweep.Target, "", &tree);
    for (const auto& item : tree) {
        auto ref = sweep.Reference.find(item.first);
        if (ref == sweep.Reference.end()) return "not in a clean installation: " + item.first;
        if (item.second.Directory != ref->second.Directory) return "file and directory swapped: " + item.first;
        if (!item.second.Directory && item.second.Content != ref->second.Content)
            return "different content: " + item.first;
        if (result == kInstallOk && !item.second.Directory &&
            (item.second.Mode != ref->second.Mode || item.second.Modified != ref->second.Modified))
            return "different attributes or time: " + item.first;
    }
    if (result == kInstallOk && tree.size() != sweep.Reference.size()) return "success, but files are missing";
    return std::string();
}

// Installs one variant and counts the verdict; prints a wrong one.
void RunCase(Sweep& sweep, const std::string& variant, const std::string& label) {
    sweep.Cases++;
    if (!WriteVariant(sweep, variant)) {
        fprintf(stderr, "qvsweep: cannot write %s\n", sweep.Installer.c_str());
        exit(kExitInput);
    }
    int result = InstallInChild(sweep);
    std::string wrong;
    if (result == -1) {
        sweep.Crashes++;
        wrong = "crashed";
    } else if (result == -2) {
        sweep.Hangs++;
        wrong = "did not end in time";
    } else if (result != kInstallOk && result != kInstallFailed && result != kInstallNoArchive &&
               result != kInstallBadChecksum && result != kInstallNoWindow) {
        wrong = "result " + std::to_string(result);
    } else {
        wrong = Judge(sweep, result);
    }
    if (!wrong.empty()) {
        if (sweep.Wrong + sweep.Crashes + sweep.Hangs < 20)
            printf("WRONG  %s: result %d: %s\n", label.c_str(), result, wrong.c_str());
        if (result >= 0) sweep.Wrong++;
        return;
    }
    if (result == kInstallOk) {
        sweep.Identical++;
    } else {
        sweep.Refused++;
        sweep.RefusedBy[result]++;
    }
}

void Progress(const Sweep& sweep, uint64_t total) {
    if (!isatty(2) || sweep.Cases % 200 != 0) return;
    fprintf(stderr, "\r%llu/%llu", static_cast<unsigned long long>(sweep.Cases),
            static_cast<unsigned long long>(total));
    fflush(stderr);
}

void Summary(const Sweep& sweep, const char* what) {
    if (isatty(2)) fprintf(stderr, "\r%40s\r", "");
    printf("qvsweep %s: %llu cases: %llu installed identically, %llu refused with every file intact (", what,
           static_cast<unsigned long long>(sweep.Cases), static_cast<unsigned long long>(sweep.Identical),
           static_cast<unsigned long long>(sweep.Refused));
    bool first = true;
    for (const auto& r : sweep.RefusedBy) {
        printf("%sresult %d: %llu", first ? "" : ", ", r.first, static_cast<unsigned long long>(r.second));
        first = false;
    }
    printf("); %llu wrong, %llu crashes, %llu hangs\n", static_cast<unsigned long long>(sweep.Wrong),
           static_cast<unsigned long long>(sweep.Crashes), static_cast<unsigned long long>(sweep.Hangs));
}

// Where the archive begins and ends in the installer, as the walk finds it.
bool LocateIn(const std::string& path, int32_t* start, int32_t* end) {
    std::string core = CorePath(path);
    ArchiveWalk walk;
    bool ok = OpenInstallerFile(core.c_str(), &walk, kWalkAsItGoes) == kWalkOpened;
    if (ok) {
        *start = walk.ArchiveStart;
        *end = walk.Context->ArchiveEnd;
        CloseInstallerFile(&walk);
    }
    return ok;
}

uint32_t NextRandom(uint64_t* state) {
    *state = *state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(*state >> 33);
}

void PutU32(std::string& s, size_t at, uint32_t v) {
    StoreU32(reinterpret_cast<uint8_t*>(&s[at]), v);
}

struct Options {
    std::string Mode, Source, Tool;
    uint32_t Every = 0, ImageEvery = 64, Count = 3000;  // Every 0: the mode's default
    uint64_t Seed = 1;
    std::vector<uint8_t> Values = {0xFF};
    int Timeout = 20;
};

// The XOR masks of --values: hex, comma-separated, or "all"; false when
// none is usable.
bool ParseMasks(const char* v, std::vector<uint8_t>* values) {
    values->clear();
    if (!strcmp(v, "all")) {
        for (int mask = 1; mask <= 0xFF; mask++) values->push_back(static_cast<uint8_t>(mask));
        return true;
    }
    for (const char* p = v; *p;) {
        char* end = nullptr;
        unsigned long mask = strtoul(p, &end, 16);
        if (end == p || mask == 0 || mask > 0xFF) break;
        values->push_back(static_cast<uint8_t>(mask));
        if (*end != ',') break;
        p = end + 1;
    }
    return !values->empty();
}

// Reads the command line into o; returns an exit status to stop with, or
// -1 to go on.
int ParseOptions(int argc, char** argv, Options* o) {
    if (argc >= 2 && (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help"))) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    if (argc < 3 || (strcmp(argv[1], "corrupt") && strcmp(argv[1], "sign") && strcmp(argv[1], "truncate"))) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    o->Mode = argv[1];
    o->Source = argv[2];
    for (int i = 3; i < argc; i++) {
        std::string a = argv[i];
        if (i + 1 >= argc) {
            fprintf(stderr, "qvsweep: %s needs a value\n", a.c_str());
            return kExitUsage;
        }
        const char* v = argv[++i];
        char* end = nullptr;
        unsigned long n = strtoul(v, &end, 10);
        bool number = *v && !*end;
        if (a == "--every" && number && n > 0) {
            o->Every = static_cast<uint32_t>(n);
        } else if (a == "--image-every" && number) {
            o->ImageEvery = static_cast<uint32_t>(n);
        } else if (a == "--count" && number) {
            o->Count = static_cast<uint32_t>(n);
        } else if (a == "--seed" && number) {
            o->Seed = n;
        } else if (a == "--timeout" && number && n > 0) {
            o->Timeout = static_cast<int>(n);
        } else if (a == "--qvinstall") {
            o->Tool = v;
        } else if (a == "--values") {
            if (!ParseMasks(v, &o->Values)) {
                fprintf(stderr, "qvsweep: --values takes XOR masks in hex, 1 to ff\n");
                return kExitUsage;
            }
        } else {
            fprintf(stderr, "qvsweep: bad option %s %s (see --help)\n", a.c_str(), v);
            return kExitUsage;
        }
    }
    if (o->Every == 0) o->Every = o->Mode == "truncate" ? 4 : 1;
    return -1;
}

// Makes the scratch directory, finds the archive in the clean installer
// (start and end of its bytes) and installs it once for the reference
// every verdict is judged against. Returns an exit status to stop with, or
// -1 to go on; the scratch directory is gone when it stops.
int PrepareSweep(const Options& o, const std::string& clean, Sweep* sweep, int32_t* start, int32_t* end) {
    sweep->Root = MakeScratchDir("qvsweep");
    if (sweep->Root.empty()) {
        perror("qvsweep: mkdtemp");
        return kExitInput;
    }
    sweep->Installer = sweep->Root + "/setup.exe";
    sweep->Target = sweep->Root + "/t";
    sweep->TimeoutSeconds = o.Timeout;
    const char* problem = nullptr;
    if (!WriteVariant(*sweep, clean) || !LocateIn(sweep->Installer, start, end)) {
        problem = "holds no archive";
    } else {
        if (*end <= 0) *end = static_cast<int32_t>(clean.size());
        int result = InstallInChild(*sweep);
        if (result != kInstallOk) {
            fprintf(stderr, "qvsweep: %s does not install cleanly (result %d)\n", o.Source.c_str(), result);
            RemoveTree(sweep->Root);
            return kExitInput;
        }
        Snapshot(sweep->Target, "", &sweep->Reference);
    }
    if (!problem) return -1;
    fprintf(stderr, "qvsweep: %s %s\n", o.Source.c_str(), problem);
    RemoveTree(sweep->Root);
    return kExitInput;
}

// Every N-th byte of the archive and every M-th of the image before it,
// with each mask.
void SweepCorruptions(const Options& o, const std::string& clean, int32_t start, int32_t end, Sweep* sweep) {
    uint64_t total = 0;
    for (int32_t at = start; at < end; at += static_cast<int32_t>(o.Every)) total++;
    if (o.ImageEvery)
        for (int32_t at = 0; at < start; at += static_cast<int32_t>(o.ImageEvery)) total++;
    total *= o.Values.size();
    for (uint8_t mask : o.Values) {
        for (int pass = 0; pass < 2; pass++) {
            int32_t from = pass == 0 ? start : 0, to = pass == 0 ? end : start;
            uint32_t step = pass == 0 ? o.Every : o.ImageEvery;
            if (step == 0) continue;
            for (int32_t at = from; at < to; at += static_cast<int32_t>(step)) {
                std::string variant = clean;
                variant[static_cast<size_t>(at)] = static_cast<char>(variant[static_cast<size_t>(at)] ^ mask);
                char label[64];
                snprintf(label, sizeof label, "byte %d ^ %02x", at, mask);
                RunCase(*sweep, variant, label);
                Progress(*sweep, total);
            }
        }
    }
    Summary(*sweep, "corrupt");
}

// The clean installer with a random signature of the signing tools' shape
// appended: padding to 8 bytes, a certificate table of 1.2 to 9 KB, and
// the table's entry (at entry) pointed at it.
std::string SignedVariant(const std::string& clean, uint32_t entry, uint64_t* state) {
    std::string variant = clean;
    variant.resize((variant.size() + 7) & ~size_t(7), '\0');
    uint32_t offset = static_cast<uint32_t>(variant.size());
    uint32_t body = 1200 + NextRandom(state) % (9 * 1024 - 1200);
    uint32_t length = 8 + body;
    variant.resize(variant.size() + length);
    PutU32(variant, offset, length);
    variant[offset + 4] = 0x00;  // revision 2
    variant[offset + 5] = 0x02;
    variant[offset + 6] = 0x02;  // PKCS#7 signed data
    variant[offset + 7] = 0x00;
    for (uint32_t b = 0; b < body; b++) variant[offset + 8 + b] = static_cast<char>(NextRandom(state));
    PutU32(variant, entry, offset);
    PutU32(variant, entry + 4, length);
    return variant;
}

// Count random signatures, each of which must install identically.
// Returns an exit status to stop with, or -1 when the sweep ran.
int SweepSignatures(const Options& o, const std::string& clean, Sweep* sweep) {
    uint32_t entry = 0;
    FileStream* f = OpenStream(sweep->Installer.c_str(), "rb", kStreamShareAll);
    bool pe = f && FindCertificateTableEntry(f, &entry);
    CloseFile(f);
    if (!pe || entry + 8 > clean.size()) {
        fprintf(stderr, "qvsweep: %s is no PE image with a certificate table entry\n", o.Source.c_str());
        return kExitInput;
    }
    uint64_t state = o.Seed;
    for (uint32_t i = 0; i < o.Count; i++) {
        std::string variant = SignedVariant(clean, entry, &state);
        char label[64];
        snprintf(label, sizeof label, "signature %u (%zu bytes)", i, variant.size() - clean.size());
        sweep->Cases++;
        if (!WriteVariant(*sweep, variant)) return kExitInput;
        int r = InstallInChild(*sweep);
        std::string wrong = r < 0 ? (r == -1 ? "crashed" : "did not end in time")
                                  : r != kInstallOk ? "failed" : Judge(*sweep, r);
        if (wrong.empty()) {
            sweep->Identical++;
        } else {
            if (sweep->Wrong < 20) printf("WRONG  %s: result %d: %s\n", label, r, wrong.c_str());
            if (r == -1) sweep->Crashes++;
            else if (r == -2) sweep->Hangs++;
            else sweep->Wrong++;
        }
        Progress(*sweep, o.Count);
    }
    Summary(*sweep, "sign");
    return -1;
}

// Where a download is most likely to stop short of trouble: the end of the
// image (no archive at all), the end of the main header, and each entry's
// header start, data start and data end, as the walk finds them in the
// clean installer; the end of a closing block behind them, and where the
// archive ends. False when the walk cannot be opened.
bool Landmarks(const std::string& path, std::vector<int64_t>* points) {
    std::string core = CorePath(path);
    ArchiveWalk walk;
    if (OpenInstallerFile(core.c_str(), &walk, kWalkAsItGoes) != kWalkOpened) return false;
    const UnpackContext* ctx = walk.Context;
    points->push_back(walk.ArchiveStart);
    points->push_back(TellFile(ctx->ArchiveFile));
    WalkStep step;
    int64_t last = TellFile(ctx->ArchiveFile);
    while ((step = NextArchiveEntry(&walk)) == kWalkFile || step == kWalkDirectory) {
        points->push_back(ctx->BlockStart);
        points->push_back(EntryDataOffset(ctx));
        points->push_back(ctx->NextBlock);
        last = ctx->NextBlock;
    }
    // Behind the last entry: the closing block of a sealed archive.
    points->push_back(last + kClosingHeaderSize);
    if (ctx->ArchiveEnd > 0) points->push_back(ctx->ArchiveEnd);
    CloseInstallerFile(&walk);
    return true;
}

// The lengths the installer is cut to: every N-th from the archive's start
// to the file's end and each landmark with the two bytes either side, all
// short of the whole file.
std::vector<int64_t> CutLengths(const std::vector<int64_t>& landmarks, int64_t start, int64_t size,
                                uint32_t every) {
    std::set<int64_t> cuts;
    for (int64_t at = start; at < size; at += every) cuts.insert(at);
    for (int64_t mark : landmarks)
        for (int64_t d = -2; d <= 2; d++)
            if (mark + d >= 0 && mark + d < size) cuts.insert(mark + d);
    return std::vector<int64_t>(cuts.begin(), cuts.end());
}

// The qvinstall to test with: the one given, or the one beside this program.
std::string ToolPath(const Options& o) {
    if (!o.Tool.empty()) return o.Tool;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "qvinstall";
    std::string dir(self, static_cast<size_t>(n));
    return dir.substr(0, dir.rfind('/') + 1) + "qvinstall";
}

// Why a cut's verdicts are wrong, or empty when they are right: the test
// result, then the installation's result and the target it left.
std::string JudgeCut(const Sweep& sweep, int tested, int installed) {
    auto outcome = [](const char* who, int r) -> std::string {
        if (r == -1) return std::string(who) + " crashed";
        if (r == -2) return std::string(who) + " did not end in time";
        if (r == kInstallOk) return std::string(who) + " reports success";
        return std::string();
    };
    std::string wrong = outcome("qvinstall test", tested);
    if (wrong.empty()) wrong = outcome("the installation", installed);
    if (wrong.empty()) wrong = WrittenBeside(sweep);
    if (wrong.empty()) {
        Tree tree;
        Snapshot(sweep.Target, "", &tree);
        if (!tree.empty()) wrong = "left in the target: " + tree.begin()->first;
    }
    return wrong;
}

// Every cut of the clean installer: test and install each.
int SweepCuts(const Options& o, const std::string& clean, int32_t start, Sweep* sweep) {
    std::vector<int64_t> landmarks;
    if (!Landmarks(sweep->Installer, &landmarks)) {
        fprintf(stderr, "qvsweep: %s holds no archive\n", o.Source.c_str());
        return kExitInput;
    }
    std::string tool = ToolPath(o);
    if (access(tool.c_str(), X_OK) != 0) {
        fprintf(stderr, "qvsweep: cannot run %s (give --qvinstall PATH)\n", tool.c_str());
        return kExitInput;
    }
    std::vector<int64_t> cuts = CutLengths(landmarks, start, static_cast<int64_t>(clean.size()), o.Every);
    std::map<std::string, uint64_t> verdicts;  // "test N, install M" -> cuts
    for (int64_t length : cuts) {
        sweep->Cases++;
        if (!WriteVariant(*sweep, clean.substr(0, static_cast<size_t>(length)))) return kExitInput;
        int tested = ToolInChild(*sweep, tool, "test");
        int installed = InstallInChild(*sweep);
        std::string wrong = JudgeCut(*sweep, tested, installed);
        if (wrong.empty()) {
            sweep->Refused++;
            char key[48];
            snprintf(key, sizeof key, "test %d, install %d", tested, installed);
            verdicts[key]++;
        } else {
            if (sweep->Wrong + sweep->Crashes + sweep->Hangs < 20)
                printf("WRONG  cut to %lld bytes (archive byte %lld): test %d, install %d: %s\n",
                       static_cast<long long>(length), static_cast<long long>(length - start), tested,
                       installed, wrong.c_str());
            if (tested == -1 || installed == -1) sweep->Crashes++;
            else if (tested == -2 || installed == -2) sweep->Hangs++;
            else sweep->Wrong++;
        }
        Progress(*sweep, cuts.size());
    }
    if (isatty(2)) fprintf(stderr, "\r%40s\r", "");
    printf("qvsweep truncate: %llu cuts of %zu bytes (archive at %d): %llu refused by test and install with the "
           "target empty (", static_cast<unsigned long long>(sweep->Cases), clean.size(), start,
           static_cast<unsigned long long>(sweep->Refused));
    bool first = true;
    for (const auto& v : verdicts) {
        printf("%s%s: %llu", first ? "" : "; ", v.first.c_str(), static_cast<unsigned long long>(v.second));
        first = false;
    }
    printf("); %llu wrong, %llu crashes, %llu hangs\n", static_cast<unsigned long long>(sweep->Wrong),
           static_cast<unsigned long long>(sweep->Crashes), static_cast<unsigned long long>(sweep->Hangs));
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int stop = ParseOptions(argc, argv, &options);
    if (stop >= 0) return stop;
    std::string clean;
    if (!ReadWholeFile(options.Source, &clean)) {
        fprintf(stderr, "qvsweep: cannot read %s\n", options.Source.c_str());
        return kExitInput;
    }
    Sweep sweep;
    int32_t start = 0, end = 0;
    stop = PrepareSweep(options, clean, &sweep, &start, &end);
    if (stop >= 0) return stop;
    if (options.Mode == "corrupt")
        SweepCorruptions(options, clean, start, end, &sweep);
    else if (options.Mode == "sign")
        stop = SweepSignatures(options, clean, &sweep);
    else
        stop = SweepCuts(options, clean, start, &sweep);
    RemoveTree(sweep.Root);
    if (stop >= 0) return stop;
    return sweep.Wrong + sweep.Crashes + sweep.Hangs == 0 ? kExitOk : kExitWrongVerdict;
}
