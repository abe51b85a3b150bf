// qvsweep: damages an installer in every way a single byte can, or signs it
// with random signatures, installs each variant into a fresh directory and
// checks the verdict against a clean installation.
//
// A verdict is right when the installation either succeeds with the tree of
// the clean installation (names, contents, attributes, times), or fails
// with every file that is there byte-identical to the clean one, nothing
// else in the target (no temporary, no damaged name) and nothing beside it.
// A crash or an installation that does not end in time is always wrong.
// Each installation runs in a child process of its own.
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "archive/peimage.h"
#include "install/driver.h"
#include "install/platform.h"
#include "install/walk.h"

namespace {

enum { kExitOk = 0, kExitWrongVerdict = 1, kExitInput = 2, kExitUsage = 64 };

const char kUsage[] =
    "usage: qvsweep corrupt INSTALLER [--every N] [--values V,...] [--image-every M] [--timeout S]\n"
    "       qvsweep sign INSTALLER [--count N] [--seed S] [--timeout S]\n"
    "\n"
    "corrupt  changes every N-th byte of the archive (default every byte) with\n"
    "         each XOR mask V (hex, default ff; 'all' for all 255), and every M-th\n"
    "         byte of the program image in front of it (default 64; 0 leaves the\n"
    "         image alone)\n"
    "sign     appends N random signatures (default 3000) the way signing tools\n"
    "         do: padding to 8 bytes, a certificate table of 1.2 to 9 KB, data\n"
    "         directory 4 pointed at it; every one must install identically\n"
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

bool ReadFile(const std::string& path, std::string* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) out->append(chunk, got);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool WriteFile(const std::string& path, const std::string& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

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
        if (!entry.Directory) ReadFile(path, &entry.Content);
        (*tree)[prefix + name] = entry;
        if (entry.Directory) Snapshot(path, prefix + name + "/", tree);
    }
    closedir(d);
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* d = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (struct dirent* e = readdir(d))
                if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
            closedir(d);
            for (const std::string& n : names) RemoveTree(path + "/" + n);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void Silent(void*, const char*) {}
void SilentError(void*, const char*, const char*) {}

struct Sweep {
    std::string Root;       // scratch directory: the installer and the target, nothing else
    std::string Installer;  // Root + "/setup.exe"
    std::string Target;     // Root + "/t"
    int TimeoutSeconds = 20;
    Tree Reference;

    uint64_t Cases = 0, Identical = 0, Refused = 0, Wrong = 0, Crashes = 0, Hangs = 0;
    std::map<int, uint64_t> RefusedBy;  // result code -> cases
};

std::string CorePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// Installs the file at sweep.Installer into a fresh target in a child
// process. Returns the result code, -1 for a crash, -2 for a hang.
int InstallInChild(const Sweep& sweep) {
    RemoveTree(sweep.Target);
    mkdir(sweep.Target.c_str(), 0777);
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child < 0) {
        perror("qvsweep: fork");
        exit(kExitInput);
    }
    if (child == 0) {
        if (chdir(sweep.Root.c_str()) != 0) _exit(120);
        alarm(static_cast<unsigned>(sweep.TimeoutSeconds));  // a hang ends as a crash of its own kind
        HostUiHooks hooks = {Silent, SilentError};
        SetHostUiHooks(&hooks);
        char target[kPathSize];
        snprintf(target, sizeof target - 1, "%s", CorePath(sweep.Target).c_str());
        uint32_t result = InstallFromArchive(nullptr, CorePath(sweep.Installer).c_str(), target);
        _exit(static_cast<int>(result));
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGALRM ? -2 : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Why the verdict on the target as it stands is wrong, or empty when it is right.
std::string Judge(const Sweep& sweep, int result) {
    // Only the installer and the target may stand in the scratch directory.
    DIR* d = opendir(sweep.Root.c_str());
    if (d) {
        while (struct dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != ".." && name != "setup.exe" && name != "t") {
                closedir(d);
                return "written beside the target: " + name;
            }
        }
        closedir(d);
    }
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
    if (!WriteFile(sweep.Installer, variant)) {
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
    UnpackContext* ctx = CreateUnpackContext();
    if (!ctx) return false;
    std::string core = CorePath(path);
    ctx->ArchivePath = core.c_str();
    ArchiveWalk walk;
    bool ok = OpenArchiveWalk(&walk, ctx) == kWalkOpened;
    if (ok) {
        *start = walk.ArchiveStart;
        *end = ctx->ArchiveEnd;
        CloseArchiveWalk(&walk);
    }
    FreeAndClear(&ctx);
    return ok;
}

uint32_t NextRandom(uint64_t* state) {
    *state = *state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(*state >> 33);
}

void PutU32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) s[at + i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help"))) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    if (argc < 3 || (strcmp(argv[1], "corrupt") && strcmp(argv[1], "sign"))) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::string mode = argv[1], source = argv[2];
    uint32_t every = 1, imageEvery = 64, count = 3000;
    uint64_t seed = 1;
    std::vector<uint8_t> values = {0xFF};
    int timeout = 20;
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
            every = static_cast<uint32_t>(n);
        } else if (a == "--image-every" && number) {
            imageEvery = static_cast<uint32_t>(n);
        } else if (a == "--count" && number) {
            count = static_cast<uint32_t>(n);
        } else if (a == "--seed" && number) {
            seed = n;
        } else if (a == "--timeout" && number && n > 0) {
            timeout = static_cast<int>(n);
        } else if (a == "--values" && !strcmp(v, "all")) {
            values.clear();
            for (int mask = 1; mask <= 0xFF; mask++) values.push_back(static_cast<uint8_t>(mask));
        } else if (a == "--values") {
            values.clear();
            for (const char* p = v; *p;) {
                unsigned long mask = strtoul(p, &end, 16);
                if (end == p || mask == 0 || mask > 0xFF) break;
                values.push_back(static_cast<uint8_t>(mask));
                p = *end == ',' ? end + 1 : end;
                if (!*end) break;
            }
            if (values.empty()) {
                fprintf(stderr, "qvsweep: --values takes XOR masks in hex, 1 to ff\n");
                return kExitUsage;
            }
        } else {
            fprintf(stderr, "qvsweep: bad option %s %s (see --help)\n", a.c_str(), v);
            return kExitUsage;
        }
    }

    std::string clean;
    if (!ReadFile(source, &clean)) {
        fprintf(stderr, "qvsweep: cannot read %s\n", source.c_str());
        return kExitInput;
    }
    char pattern[] = "/tmp/qvsweep.XXXXXX";
    const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm/qvsweep.XXXXXX" : nullptr;
    std::string scratch = shm ? shm : pattern;
    std::vector<char> dir(scratch.begin(), scratch.end());
    dir.push_back('\0');
    if (!mkdtemp(dir.data())) {
        perror("qvsweep: mkdtemp");
        return kExitInput;
    }
    Sweep sweep;
    sweep.Root = dir.data();
    sweep.Installer = sweep.Root + "/setup.exe";
    sweep.Target = sweep.Root + "/t";
    sweep.TimeoutSeconds = timeout;

    // The clean installation everything is judged against.
    WriteFile(sweep.Installer, clean);
    int32_t start = 0, end = 0;
    if (!LocateIn(sweep.Installer, &start, &end)) {
        fprintf(stderr, "qvsweep: %s holds no archive\n", source.c_str());
        RemoveTree(sweep.Root);
        return kExitInput;
    }
    if (end <= 0) end = static_cast<int32_t>(clean.size());
    int result = InstallInChild(sweep);
    if (result != kInstallOk) {
        fprintf(stderr, "qvsweep: %s does not install cleanly (result %d)\n", source.c_str(), result);
        RemoveTree(sweep.Root);
        return kExitInput;
    }
    Snapshot(sweep.Target, "", &sweep.Reference);

    if (mode == "corrupt") {
        uint64_t total = 0;
        for (int32_t at = start; at < end; at += every) total++;
        if (imageEvery)
            for (int32_t at = 0; at < start; at += imageEvery) total++;
        total *= values.size();
        for (uint8_t mask : values) {
            for (int pass = 0; pass < 2; pass++) {
                int32_t from = pass == 0 ? start : 0, to = pass == 0 ? end : start;
                uint32_t step = pass == 0 ? every : imageEvery;
                if (step == 0) continue;
                for (int32_t at = from; at < to; at += static_cast<int32_t>(step)) {
                    std::string variant = clean;
                    variant[static_cast<size_t>(at)] = static_cast<char>(variant[static_cast<size_t>(at)] ^ mask);
                    char label[64];
                    snprintf(label, sizeof label, "byte %d ^ %02x", at, mask);
                    RunCase(sweep, variant, label);
                    Progress(sweep, total);
                }
            }
        }
        Summary(sweep, "corrupt");
    } else {
        uint32_t entry = 0;
        FileStream* f = OpenStream(sweep.Installer.c_str(), "rb", kStreamShareAll);
        bool pe = f && FindCertificateTableEntry(f, &entry);
        CloseFile(f);
        if (!pe || entry + 8 > clean.size()) {
            fprintf(stderr, "qvsweep: %s is no PE image with a certificate table entry\n", source.c_str());
            RemoveTree(sweep.Root);
            return kExitInput;
        }
        uint64_t state = seed;
        for (uint32_t i = 0; i < count; i++) {
            std::string variant = clean;
            variant.resize((variant.size() + 7) & ~size_t(7), '\0');
            uint32_t offset = static_cast<uint32_t>(variant.size());
            uint32_t body = 1200 + NextRandom(&state) % (9 * 1024 - 1200);
            uint32_t length = 8 + body;
            variant.resize(variant.size() + length);
            PutU32(variant, offset, length);
            variant[offset + 4] = 0x00;  // revision 2
            variant[offset + 5] = 0x02;
            variant[offset + 6] = 0x02;  // PKCS#7 signed data
            variant[offset + 7] = 0x00;
            for (uint32_t b = 0; b < body; b++) variant[offset + 8 + b] = static_cast<char>(NextRandom(&state));
            PutU32(variant, entry, offset);
            PutU32(variant, entry + 4, length);
            char label[64];
            snprintf(label, sizeof label, "signature %u (%u bytes)", i, length);
            sweep.Cases++;
            if (!WriteFile(sweep.Installer, variant)) return kExitInput;
            int r = InstallInChild(sweep);
            std::string wrong = r < 0 ? (r == -1 ? "crashed" : "did not end in time")
                                      : r != kInstallOk ? "failed" : Judge(sweep, r);
            if (wrong.empty()) {
                sweep.Identical++;
            } else {
                if (sweep.Wrong < 20) printf("WRONG  %s: result %d: %s\n", label, r, wrong.c_str());
                if (r == -1) sweep.Crashes++;
                else if (r == -2) sweep.Hangs++;
                else sweep.Wrong++;
            }
            Progress(sweep, count);
        }
        Summary(sweep, "sign");
    }
    RemoveTree(sweep.Root);
    return sweep.Wrong + sweep.Crashes + sweep.Hangs == 0 ? kExitOk : kExitWrongVerdict;
}
