// qvpack: builds an installer (or a bare archive) from a directory.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install/charset.h"
#include "install/platform.h"
#include "pack/archivewriter.h"
#include "pack/fileorder.h"
#include "pack/lzencoder.h"
#include "pack/names.h"
#include "pack/progressline.h"
#include "pack/stubcheck.h"
#include "tools/host.h"
#include "tools/version.h"

namespace {

// One thread per core the system has online.
uint32_t DefaultThreads() {
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1u : cores > kMaxEncoderThreads ? uint32_t(kMaxEncoderThreads) : static_cast<uint32_t>(cores);
}

enum {
    kExitOk = 0,
    kExitUsage = 64,  // bad command line, as qvinstall's
    kExitInput = 2,   // the directory, list, image or a file cannot be used
    kExitOutput = 3,  // the output cannot be written
    kExitVerify = 4   // the result does not decode to the input (nothing is left behind)
};

const char kUsage[] =
    "usage: qvpack [-1..-5] [-o OUT] (--stub IMAGE | --archive-only) [--list FILE]\n"
    "              [--codepage N] [options] DIR\n"
    "\n"
    "Packs the files under DIR into a solid archive and, with --stub, appends it\n"
    "to the installer program IMAGE to make a single-file installer.\n"
    "\n"
    "  -1 .. -5          compression level: 1 fastest, 5 smallest (default 3)\n"
    "  -T N, --threads N threads that compress (default: one per core); the\n"
    "                    archive is the same byte for byte for any N\n"
    "  -o OUT            output file (default: DIR's name with .exe, or .rar with\n"
    "                    --archive-only); a '\\' is an ordinary character of its\n"
    "                    name, but none may stand in its directories' names\n"
    "  --stub IMAGE      the installer program (setup.exe) the archive is appended\n"
    "                    to; no other program is taken. It is built by\n"
    "                    scripts/build-installer.sh (or cmake with\n"
    "                    cmake/mingw-i686.cmake) at build/win-i686/ui/setup.exe\n"
    "  --archive-only    write the archive alone\n"
    "  --list FILE       pack only the files FILE names (paths relative to DIR,\n"
    "                    one a line; blank lines and lines starting with # are\n"
    "                    skipped), in that order; default: every file, in an\n"
    "                    order that keeps files of alike content together\n"
    "  --codepage N      the Windows code page names are stored in: the ANSI code\n"
    "                    page of the systems the installer is for (default 1252,\n"
    "                    Western European; 1250 Central European, 1251 Cyrillic,\n"
    "                    1253 Greek, ...): 874 or 1250-1258 (OEM code pages such\n"
    "                    as 437, 850, 866 and multi-byte ones are refused); it is\n"
    "                    recorded in the archive, where qvinstall finds it\n"
    "  --no-verify       skip decoding the result again and comparing it with the\n"
    "                    files\n"
    "  -q                no progress and no summary (warnings are still shown)\n"
    "  --version         the version and the archive format written\n"
    "  -h, --help        this text\n"
    "  --                the next argument is DIR, even if it starts with '-'\n"
    "Options with a value take it as the next argument or after '=':\n"
    "--codepage=1251.\n"
    "\n"
    "What is delivered: every regular file, under its path below DIR. Names are\n"
    "read in the locale's character set (UTF-8 in the C locale) and stored in the\n"
    "code page, since the installer creates them with the 8-bit Windows file\n"
    "calls. The whole input is checked before anything is packed; each problem\n"
    "is told with its path and why, then how many there are, and qvpack stops\n"
    "with exit 2, nothing written: a name the code page cannot hold; the\n"
    "characters < > : \" | ? * \\ and control characters; a name ending in a\n"
    "dot or a space (Windows would create another); a device name such as CON or\n"
    "LPT1 as any part; a stored name over 259 bytes; two names that differ only\n"
    "in case; a link loop; a link to nothing; a special file (device, fifo,\n"
    "socket); a file that cannot be opened; a file over 2 GB; over 3.75 GB of\n"
    "files in all.\n"
    "Not delivered: empty directories (the installer makes directories only for\n"
    "the files in them): each is named in a warning. Symbolic links are followed:\n"
    "what a link names is packed as a copy under the link's name; a link back to\n"
    "a directory it lies in is a loop and refused. A warning also names each\n"
    "directory whose path under the installer's default target would pass the\n"
    "247 characters Windows creates, and each longer path it could not open.\n"
    "\n"
    "qvpack never writes over its inputs: an output that is IMAGE or the --list\n"
    "file is refused (exit 2); an earlier output inside DIR is left out of the\n"
    "packing with a warning. The output is written to a temporary file beside it\n"
    "and renamed into place; SIGINT, SIGTERM and SIGHUP remove the temporary file.\n"
    "\n"
    "Files are stored with their modification time; when SOURCE_DATE_EPOCH is set,\n"
    "later times are clamped to it and stored as UTC, so that the same input gives\n"
    "the same bytes. Times before 1980 are stored as 1980-01-01, with one warning\n"
    "that counts them.\n"
    "\n"
    "Exit status: 0 done, 2 unusable input, 3 cannot write the output,\n"
    "4 verification failed (nothing is left behind), 64 bad command line.\n";

std::string BaseName(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    size_t slash = dir.rfind('/');
    std::string name = slash == std::string::npos ? dir : dir.substr(slash + 1);
    return name.empty() || name == "." || name == ".." || name == "/" ? std::string("setup") : name;
}

int Fail(int code, const std::string& message) {
    fprintf(stderr, "qvpack: %s\n", message.c_str());
    return code;
}

// The file the output is written to first, in its directory. The check of
// the result reads it through the installer's core, whose paths take '\' as
// a separator: a '\' in the output's own name (an ordinary character here)
// is left out of the temporary name, and the final rename restores it.
std::string TemporaryBeside(const std::string& out) {
    size_t slash = out.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : out.substr(0, slash + 1);
    std::string name = out.substr(dir.size());
    for (char& c : name)
        if (c == '\\') c = '_';
    return dir + name + ".tmp" + std::to_string(getpid());
}

// An output path the installer's core cannot read back for the check: a
// '\' in one of its directories' names. Empty when it can.
std::string OutputProblem(const std::string& out) {
    size_t slash = out.rfind('/');
    if (slash == std::string::npos || out.find('\\') > slash) return std::string();
    return "-o " + out + ": a directory whose name holds a '\\' cannot be written to (the check of the result "
           "reads it through the installer's file layer, which takes '\\' as a separator)";
}

}  // namespace

// Reads a code page number for --codepage: a Windows ANSI code page, since
// the installer hands the stored names to the 8-bit file calls, which read
// them in the system's ANSI code page. Returns why not, or an empty text.
std::string ParseCodePage(const std::string& text, uint32_t* codePage) {
    char* end = nullptr;
    unsigned long v = strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || v == 0 || v > kLargestCodePage)
        return "--codepage needs a Windows ANSI code page, such as 1252";
    uint32_t cp = static_cast<uint32_t>(v);
    if (!IsWindowsAnsiCodePage(cp)) {
        if (cp == 437 || cp == 720 || (cp >= 737 && cp <= 869))
            return "--codepage " + text +
                   ": an MS-DOS (OEM) code page, never a Windows system's ANSI code page, in which the "
                   "installer's names are read; take 874 or 1250-1258 (1252 for 850 and 437, 1251 for 866)";
        return "--codepage " + text + ": " +
               (IsSingleByteCodePage(cp) ? std::string("not a Windows ANSI code page")
                                         : std::string("not a single-byte code page this system knows")) +
               "; the installer's names are read in one of 874, 1250-1258";
    }
    if (!IsSingleByteCodePage(cp)) return "--codepage " + text + ": this system cannot convert names to it";
    *codePage = cp;
    return std::string();
}

void ShowWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) fprintf(stderr, "qvpack: warning: %s\n", w.c_str());
}

namespace {

// What the command line asks for.
struct PackRequest {
    int Level = kDefaultLevel;
    uint32_t Threads = DefaultThreads();
    CollectOptions Collect;
    std::vector<std::string> Warnings;
    std::string Out, Stub, List, Dir;
    bool ArchiveOnly = false, Verify = true, Quiet = false;
};

void ShowHelp(void) {
    fputs(kUsage, stdout);
    auto mb = [](size_t bytes) { return static_cast<double>(bytes) / 1e6; };
    size_t lazy1 = LzEncoderMemory(3, 1), lazy2 = LzEncoderMemory(3, 2);
    size_t optimal1 = LzEncoderMemory(5, 1), optimal2 = LzEncoderMemory(5, 2);
    printf("\nMemory, whatever the size of the files: the compressor takes at most %.1f MB\n"
           "at levels 1-3 and %.1f MB at 4-5 with one thread, and %.1f MB (1-3) or\n"
           "%.1f MB (4-5) more for each further thread; ordering the files by content\n"
           "(without --list) takes up to 4 MB more, and a few hundred bytes per file\n"
           "are kept. This machine has %u cores.\n",
           mb(lazy1), mb(optimal1), mb(lazy2 - lazy1), mb(optimal2 - optimal1), DefaultThreads());
}

// Reads the command line into r; returns an exit status to stop with, or
// -1 to go on.
int ParseRequest(int argc, char** argv, PackRequest* r) {
    r->Collect.Warnings = &r->Warnings;
    bool optionsEnded = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        // --opt=value as well as --opt value.
        std::string inline_;
        bool hasInline = false;
        size_t equals = a.find('=');
        if (!optionsEnded && a.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            inline_ = a.substr(equals + 1);
            a.resize(equals);
            hasInline = true;
        }
        auto value = [&](std::string* into) {
            if (hasInline) {
                *into = inline_;
                hasInline = false;
                return true;
            }
            if (i + 1 >= argc) return false;
            *into = argv[++i];
            return true;
        };
        bool takesValue = a == "--stub" || a == "--list" || a == "--codepage" || a == "--threads";
        if (optionsEnded) {
            if (!r->Dir.empty()) return Fail(kExitUsage, "only one directory can be packed (see --help)");
            r->Dir = a;
            continue;
        }
        if (hasInline && !takesValue) return Fail(kExitUsage, a + " takes no value (see --help)");
        if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            ShowHelp();
            return kExitOk;
        } else if (a == "--version") {
            PrintToolVersion("qvpack", "writes");
            return kExitOk;
        } else if (a.size() == 2 && a[0] == '-' && a[1] >= '1' && a[1] <= '5') {
            r->Level = a[1] - '0';
        } else if (a == "-T" || a == "--threads" || (a.compare(0, 2, "-T") == 0 && a.size() > 2)) {
            std::string number = a.size() > 2 && a[1] == 'T' ? a.substr(2) : std::string();
            if (number.empty() && !value(&number)) return Fail(kExitUsage, a + " needs a number of threads");
            char* end = nullptr;
            unsigned long n = strtoul(number.c_str(), &end, 10);
            if (number.empty() || *end || number[0] < '0' || number[0] > '9' || n < 1 || n > kMaxEncoderThreads)
                return Fail(kExitUsage, "the number of threads must be 1 to " + std::to_string(kMaxEncoderThreads) +
                                            ", not '" + number + "'");
            r->Threads = static_cast<uint32_t>(n);
        } else if (a == "-o") {
            if (!value(&r->Out)) return Fail(kExitUsage, "-o needs a file name");
        } else if (a == "--stub") {
            if (!value(&r->Stub)) return Fail(kExitUsage, "--stub needs the installer program's file");
        } else if (a == "--list") {
            if (!value(&r->List)) return Fail(kExitUsage, "--list needs a file");
        } else if (a == "--codepage") {
            std::string number;
            if (!value(&number)) return Fail(kExitUsage, "--codepage needs a Windows ANSI code page, such as 1252");
            std::string why = ParseCodePage(number, &r->Collect.CodePage);
            if (!why.empty()) return Fail(kExitUsage, why);
        } else if (a == "--archive-only") {
            r->ArchiveOnly = true;
        } else if (a == "--no-verify") {
            r->Verify = false;
        } else if (a == "-q") {
            r->Quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Fail(kExitUsage, "unknown option " + a + " (see --help)");
        } else if (r->Dir.empty()) {
            r->Dir = a;
        } else {
            return Fail(kExitUsage, "only one directory can be packed (see --help)");
        }
    }
    if (r->Dir.empty()) return Fail(kExitUsage, "no directory given (see --help)");
    if (r->ArchiveOnly == !r->Stub.empty())
        return Fail(kExitUsage, "give either --stub IMAGE (to build an installer) or --archive-only");
    if (r->Out.empty()) r->Out = BaseName(r->Dir) + (r->ArchiveOnly ? ".rar" : ".exe");
    std::string problem = OutputProblem(r->Out);
    if (!problem.empty()) return Fail(kExitUsage, problem);
    return -1;
}

// qvpack never writes over its inputs: an output that is the installer
// program or the list is refused; one inside DIR (an earlier run's) is left
// out of the packing. Returns an exit status to stop with, or -1.
int GuardInputs(PackRequest* r) {
    struct stat out, in;
    if (stat(r->Out.c_str(), &out) != 0) return -1;
    auto same = [&](const std::string& path) {
        return !path.empty() && stat(path.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
    };
    if (same(r->Stub))
        return Fail(kExitInput, "-o " + r->Out + " is the installer program given with --stub; it is not written over");
    if (same(r->List))
        return Fail(kExitInput, "-o " + r->Out + " is the list given with --list; it is not written over");
    r->Collect.LeaveOut = true;
    r->Collect.LeaveOutDevice = static_cast<uint64_t>(out.st_dev);
    r->Collect.LeaveOutInode = static_cast<uint64_t>(out.st_ino);
    return -1;
}

// The installer program the archive goes behind (none with
// --archive-only), checked; returns an exit status to stop with, or -1.
int ReadStub(const PackRequest& r, std::vector<uint8_t>* image) {
    std::string error;
    if (r.Stub.empty()) return -1;
    if (!ReadWholeFile(r.Stub, image))
        return Fail(kExitInput, "cannot read the installer program " + r.Stub + ": " + strerror(errno));
    if (!CheckStubImage(image->data(), image->size(), &error)) return Fail(kExitInput, r.Stub + ": " + error);
    return -1;
}

// The files to pack, in their order, with what will not be delivered said;
// returns an exit status to stop with, or -1.
int CollectFiles(PackRequest* r, std::vector<PackSource>* sources) {
    int64_t clampTime = -1;
    if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        long long v = strtoll(epoch, &end, 10);
        if (!*epoch || *end || v < 0) return Fail(kExitUsage, "SOURCE_DATE_EPOCH is not a number of seconds");
        clampTime = v;
    }
    std::string error;
    std::vector<std::string> problems;
    r->Collect.Problems = &problems;
    bool collected = CollectSources(r->Dir, r->List, clampTime, sources, &error, r->Collect);
    ShowWarnings(r->Warnings);
    if (!collected) {
        // Every problem at once, so that one run tells all there is to fix.
        for (const std::string& p : problems) fprintf(stderr, "qvpack: %s\n", p.c_str());
        return Fail(kExitInput, std::to_string(problems.size()) + (problems.size() == 1 ? " problem" : " problems") +
                                    ", nothing written");
    }
    if (r->List.empty() && !OrderForPacking(sources, &error)) return Fail(kExitInput, error);
    return -1;
}

// Writes the image and the archive into temp; returns an exit status to
// stop with (temp removed), or -1.
int WriteInstaller(const PackRequest& r, const std::vector<uint8_t>& image, std::vector<PackSource>* sources,
                   const std::string& temp, ProgressLine* progress, ArchiveSummary* summary) {
    FILE* f = fopen(temp.c_str(), "wb");
    if (!f) return Fail(kExitOutput, "cannot write " + r.Out + ": " + strerror(errno));
    bool written = image.empty() || fwrite(image.data(), 1, image.size(), f) == image.size();
    std::string error;
    PackFailure failure = kPackFailedInput;
    if (written && !WriteArchive(f, sources, r.Level, UpdateProgressLine, progress, summary, &error, &failure,
                                  r.Collect.CodePage, r.Threads)) {
        EndProgressLine(progress);
        fclose(f);
        remove(temp.c_str());
        return Fail(failure == kPackFailedInput ? kExitInput : kExitOutput, error);
    }
    EndProgressLine(progress);
    if (fclose(f) != 0 || !written) {
        remove(temp.c_str());
        return Fail(kExitOutput, "cannot write " + r.Out);
    }
    return -1;
}

// The installer finds the archive where it was put, and (unless
// --no-verify) it decodes to the input; returns an exit status to stop with
// (temp removed), or -1.
int CheckWritten(const PackRequest& r, size_t imageSize, const std::vector<PackSource>& sources,
                 const std::string& temp, ProgressLine* progress) {
    std::string error;
    if (!CheckArchiveLocated(temp, imageSize, &error)) {
        remove(temp.c_str());
        return Fail(kExitVerify, error);
    }
    if (!r.Verify) return -1;
    progress->Phase = "verifying";
    bool ok = VerifyArchiveFile(temp, sources, UpdateProgressLine, progress, &error);
    EndProgressLine(progress);
    if (ok) return -1;
    remove(temp.c_str());
    return Fail(kExitVerify, "verification failed, nothing written: " + error);
}

void ShowSummary(const PackRequest& r, size_t files, const ArchiveSummary& summary, size_t imageSize) {
    uint64_t total = summary.ArchiveBytes + imageSize;
    printf("%s: %zu files, %llu bytes packed into %llu (%.1f%%)%s\n", r.Out.c_str(), files,
           static_cast<unsigned long long>(summary.UnpackedBytes), static_cast<unsigned long long>(total),
           summary.UnpackedBytes
               ? 100.0 * static_cast<double>(summary.ArchiveBytes) / static_cast<double>(summary.UnpackedBytes)
               : 0.0,
           r.Verify ? ", verified" : "");
}

}  // namespace

int main(int argc, char** argv) {
    setlocale(LC_CTYPE, "");
    PackRequest request;
    std::vector<uint8_t> image;
    std::vector<PackSource> sources;
    int stop = ParseRequest(argc, argv, &request);
    if (stop < 0) stop = GuardInputs(&request);
    if (stop < 0) stop = ReadStub(request, &image);
    if (stop < 0) stop = CollectFiles(&request, &sources);
    if (stop >= 0) return stop;

    // Written beside the output and renamed into place only when it checks out.
    std::string temp = TemporaryBeside(request.Out);
    ProgressLine progress = StartProgressLine(!request.Quiet && isatty(2) != 0 ? stderr : nullptr, "packing");
    ArchiveSummary summary;
    // Ctrl-C, a closed terminal or a kill leaves no temporary file behind.
    PlatformRemoveTemporaryOnSignals();
    PlatformNoteTemporary(temp.c_str());
    stop = WriteInstaller(request, image, &sources, temp, &progress, &summary);
    if (stop < 0) stop = CheckWritten(request, image.size(), sources, temp, &progress);
    if (stop < 0 && rename(temp.c_str(), request.Out.c_str()) != 0) {
        int saved = errno;
        remove(temp.c_str());
        stop = Fail(kExitOutput, "cannot write " + request.Out + ": " + strerror(saved));
    }
    PlatformNoteTemporary(nullptr);
    if (stop >= 0) return stop;
    if (!request.Quiet) ShowSummary(request, sources.size(), summary, image.size());
    return kExitOk;
}
