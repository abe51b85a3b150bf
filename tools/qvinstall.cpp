// qvinstall: the installer without its dialog. Lists, tests or installs the
// archive carried by an installer file (or a bare archive), on the same core
// as the graphical installer.
#include <errno.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define QV_ISATTY _isatty
#define QV_FILENO _fileno
#else
#include <unistd.h>
#define QV_ISATTY isatty
#define QV_FILENO fileno
#endif

namespace {

// The system's words for a code of PlatformLastError.
std::string SystemReason(uint32_t code) {
#ifdef _WIN32
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, text,
                             sizeof text, NULL);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) n--;
    return n ? std::string(text, n) : "system error " + std::to_string(code);
#else
    return strerror(static_cast<int>(code));
#endif
}

}  // namespace

#include "install/driver.h"
#include "install/fileops.h"
#include "install/platform.h"
#include "install/walk.h"
#include "tools/listing.h"
#include "tools/progress.h"
#include "tools/selection.h"
#include "tools/version.h"
#ifndef _WIN32
#include "install/platform_posix.h"
#endif

namespace {

enum {
    kExitUsage = 64,       // bad command line
    kExitCannotCreate = 73  // the target directory cannot be made
};

const char kUsage[] =
    "Usage: qvinstall COMMAND [OPTIONS] ARGS...\n"
    "\n"
    "Installs ZT Quorvanel Lite from an installer file without its dialog, or\n"
    "looks into the archive the installer carries.\n"
    "\n"
    "Commands:\n"
    "  list FILE            show every entry: sizes, ratio, date and time,\n"
    "                       attributes, stored checksum, flags, version, the\n"
    "                       file offset of its packed data, name\n"
    "  test FILE            decode every entry and check its checksum; writes nothing\n"
    "  install FILE TARGET  check the whole installer, then create TARGET (with\n"
    "                       missing parents) and install into it; the settings\n"
    "                       file QUORZIP.SET is kept when present\n"
    "  NAME...              after FILE (and TARGET): list, test or install only\n"
    "                       the entries NAME selects, a stored name or a wildcard\n"
    "                       ('*' any characters, '/' and '\\' too; '?' one), in\n"
    "                       either case, '/' or '\\' as separator; a directory's\n"
    "                       name selects what is in it. A solid archive is decoded\n"
    "                       up to the last selected entry (the entries before it\n"
    "                       that a selected one needs are decoded, not written;\n"
    "                       install says \"skipping NAME\" for them). A NAME that\n"
    "                       selects nothing: exit 1, nothing installed\n"
    "  --help               show this text\n"
    "  --version            the version and the archive format read\n"
    "\n"
    "Options:\n"
    "  --format FORMAT      list only: text (default); json, one object a line per\n"
    "                       entry (name in UTF-8 or null, stored name bytes in hex,\n"
    "                       host, codepage, packed, unpacked, time in ISO 8601 and\n"
    "                       dos_time, attributes, crc, flags, version, method byte,\n"
    "                       data_offset, directory, installable); or tsv, the same\n"
    "                       fields tab-separated under a header line\n"
    "  --codepage N         the code page of names made on Win32 (default: the one\n"
    "                       the archive records, which qvpack writes; else 1252)\n"
    "  --oem-codepage N     the code page of names made on MS-DOS or OS/2\n"
    "                       (default 850)\n"
    "  -q, --quiet          test and install: no line an entry and no summary,\n"
    "                       only what failed\n"
    "  --                   what follows is FILE, TARGET and NAMEs, even where one\n"
    "                       starts with '-'\n"
    "An option's value is the next argument or follows '=': --format=json.\n"
    "\n"
    "Stored names are 8-bit names in the code page of the system that made the\n"
    "archive: the host system of its first entry tells which; for Win32 names the\n"
    "code page qvpack was given travels in the archive's closing block. They are shown, and installed on this\n"
    "system, in the locale's character set (UTF-8 in the C locale); names made on\n"
    "Unix are taken as they are. The Windows installer itself creates the stored\n"
    "bytes with the system's ANSI code page.\n"
    "\n"
    "FILE and TARGET are paths of this system; where '\\' is an ordinary character\n"
    "of a name (Linux), a path holding one is refused: the core that installs\n"
    "takes '\\' as a separator.\n"
    "\n"
    "Stopped by SIGINT, SIGTERM or SIGHUP, install removes the temporary file it\n"
    "was writing.\n"
    "\n"
    "Progress and errors go to standard error.\n"
    "\n"
    "Exit status:\n"
    "  0   success\n"
    "  1   a NAME selects no entry; an entry needs an unsupported version or method or has an unsafe\n"
    "      name (refused before anything is written), or a file could not be\n"
    "      written (a full disk, a file in use: the system's reason is shown;\n"
    "      on this system also: a name that does not convert to the locale's\n"
    "      character set)\n"
    "  2   FILE cannot be opened, holds no archive, or lacks another volume\n"
    "  3   the installer is damaged or incomplete: an entry's data or header\n"
    "      does not match its checksum, or the archive is cut short or does\n"
    "      not match its closing block (install checks this before writing)\n"
    "  4   a path below TARGET would pass 259 characters (refused before\n"
    "      anything is written)\n"
    "  9   out of memory\n"
    "  64  bad command line\n"
    "  73  TARGET cannot be created or is not a directory\n";

// What the command line chose besides the command and its files.
struct Options {
    ListFormat Format = kListText;
    bool Quiet = false;  // test and install: no line an entry, only what failed
    NameCharsets Charsets;
    std::vector<std::string> Names;  // the entries to look at (none: all)
};

// Paths on the command line are the host's paths. They may use '/'; the
// core works with '\', so where '\' is an ordinary character of a name
// (POSIX) such a path cannot be carried and is refused, never split.
enum CorePathResult { kCorePathOk, kCorePathEmpty, kCorePathTooLong, kCorePathBackslash };

CorePathResult ToCorePath(const char* arg, char* out, size_t room) {
    size_t n = strlen(arg);
    if (n == 0) return kCorePathEmpty;
    if (!PlatformBackslashSeparates() && strchr(arg, '\\')) return kCorePathBackslash;
    if (n + 1 > room) return kCorePathTooLong;
    for (size_t i = 0; i <= n; i++) out[i] = arg[i] == '/' ? '\\' : arg[i];
    return kCorePathOk;
}

// Why a path was not taken, after its text and a colon.
const char* CorePathProblem(CorePathResult r) {
    switch (r) {
        case kCorePathEmpty: return "empty path";
        case kCorePathTooLong: return "path too long";
        default: return "a '\\' in a name is not supported on this system (the installer's core takes it as a "
                        "separator); rename it";
    }
}

bool IsDirectory(const char* nativePath) {
    // Some C libraries refuse a trailing separator here, which a root needs.
    std::string path = nativePath;
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') &&
           path[path.size() - 2] != ':')
        path.pop_back();
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One look at the archive of FILE: a context and a walk over it.
struct Session {
    UnpackContext* ctx = nullptr;
    ArchiveWalk walk = {};
    char path[kPathSize];
};

std::string WalkProblem(const UnpackContext* ctx, WalkStep step, int* code);

// Opens the archive of FILE for a walk; prints why not (unless quiet) and
// returns false.
bool OpenSession(Session& s, const char* file, bool quiet = false) {
    CorePathResult taken = ToCorePath(file, s.path, sizeof s.path);
    if (taken != kCorePathOk) {
        if (!quiet) fprintf(stderr, "qvinstall: %s: %s\n", file, CorePathProblem(taken));
        return false;
    }
    WalkOpenResult opened = OpenInstallerFile(s.path, &s.walk, kWalkAsItGoes);
    s.ctx = s.walk.Context;
    if (opened == kWalkOpened) return true;
    if (!quiet) {
        if (opened == kWalkCannotOpen)
            fprintf(stderr, "qvinstall: cannot open %s: %s\n", file, strerror(errno));
        else if (opened == kWalkNoArchive)
            fprintf(stderr, "qvinstall: %s: no archive found\n", file);
        else
            fprintf(stderr, "qvinstall: out of memory\n");
    }
    return false;
}

void CloseSession(Session& s) {
    if (!s.ctx) return;
    CloseInstallerFile(&s.walk);
    s.ctx = nullptr;
}

// The character set of the archive's stored names: by the host system of
// its first file or directory entry (a packer writes one for all) and, for
// Win32 names, the code page the closing block records unless --codepage
// was given. Both come from the check of the whole archive; one the check
// refuses keeps the defaults but for what was read before the damage (the
// install that follows refuses it with its own check).
uint32_t ArchiveNameCharset(const char* file, const NameCharsets& sets) {
    char path[kPathSize];
    UnpackContext* ctx = ToCorePath(file, path, sizeof path) == kCorePathOk ? CreateUnpackContext() : nullptr;
    if (!ctx) return sets.CodePage;
    ctx->ArchivePath = path;
    ArchiveWalk walk;
    WalkOpenResult opened = OpenArchiveWalk(&walk, ctx, kWalkCheckFirst);
    const ArchiveSurvey& survey = walk.Survey;
    uint8_t host = static_cast<uint8_t>(kHostWin32);
    uint32_t recorded = 0;
    if (opened == kWalkOpened || opened == kWalkBroken) {
        if (survey.Entries > 0)
            host = survey.FirstHost;
        else if (walk.Ending == kWalkContinuedEntry)
            host = ctx->EntryHeader.HostSystem;
        recorded = survey.Sealed ? survey.CodePage : 0;
        // Only the bytes disagree with the closing block, which itself was read whole.
        if (opened == kWalkBroken && ctx->BlockStop == kStopArchiveChecksum) recorded = ctx->ClosingCodePage;
    }
    if (opened == kWalkOpened) CloseArchiveWalk(&walk);
    FreeAndClear(&ctx);
    return StoredNameCharset(host, WithArchiveCodePage(sets, recorded));
}

// What becomes of each file and directory entry, in archive order, with
// the names given; false, having said so, when a name selects nothing in an
// archive that could be walked to its end.
bool PlanEntries(const char* file, uint32_t charset, const std::vector<std::string>& names,
                 std::vector<EntrySelection>* plan) {
    std::vector<SelectionEntry> entries;
    Session s;
    WalkStep step = kWalkEnd;
    if (OpenSession(s, file, true)) {
        while ((step = NextArchiveEntry(&s.walk)) == kWalkFile || step == kWalkDirectory) {
            const FileBlockHeader* h = &s.ctx->EntryHeader;
            entries.push_back({ShownStoredName(h->Name, charset), step == kWalkFile,
                               (h->BlockFlags & kFileFlagSolid) != 0});
        }
        CloseSession(s);
    }
    std::vector<bool> used;
    *plan = PlanSelection(names, entries, &used);
    bool found = true;
    for (size_t i = 0; i < names.size() && step == kWalkEnd; i++) {
        if (used[i]) continue;
        fprintf(stderr, "qvinstall: %s: no such entry\n", names[i].c_str());
        found = false;
    }
    return found;
}

// The choice for entry i of a plan; past its end (the archive changed) nothing.
EntrySelection PlannedFor(const std::vector<EntrySelection>& plan, size_t i) {
    return i < plan.size() ? plan[i] : kSelectStop;
}

// Why the walk ended before the end of the archive, for list and test;
// none when it did not. The result code goes to *code.
std::string WalkProblem(const UnpackContext* ctx, WalkStep step, int* code) {
    *code = kInstallNoArchive;
    if (step == kWalkContinuedEntry) return "continued from a previous volume";
    if (step == kWalkMissingVolume) return "the last entry continues in a next volume";
    *code = kInstallBadChecksum;
    if (step == kWalkDamagedEntry) return "its header does not match its checksum";
    if (step != kWalkDamagedArchive) {
        *code = kInstallOk;
        return std::string();
    }
    const char* why = "damaged";
    switch (ctx->BlockStop) {
        case kStopShortHeader: why = "a header size below 7"; break;
        case kStopNoProgress: why = "a block that does not move forward"; break;
        case kStopPastEnd: why = "a block that reaches beyond the end of the archive"; break;
        case kStopUnknownType: why = "a block of unknown type"; break;
        case kStopRetypedFile: why = "a file header of another type"; break;
        case kStopNoClosingBlock: return "the archive is cut short: it ends without its closing block";
        case kStopClosingDamaged: why = "the closing block is damaged or not last"; break;
        case kStopEntryCount:
        case kStopArchiveLength: return "the archive is not whole: its closing block counts other entries or bytes";
        case kStopSignatureCut: return "the installer is cut short inside its signature";
        case kStopArchiveChecksum: return "the archive is damaged: its bytes do not match the closing block's CRC-32";
        default: break;
    }
    char text[128];
    snprintf(text, sizeof text, "the archive is damaged at offset %d: %s", ctx->BlockStart, why);
    return text;
}

int CommandList(const char* file, const Options& options) {
    uint32_t charset = ArchiveNameCharset(file, options.Charsets);
    std::vector<EntrySelection> plan;
    if (!PlanEntries(file, charset, options.Names, &plan)) return kInstallFailed;
    size_t index = 0;
    Session s;
    if (!OpenSession(s, file)) return kInstallNoArchive;
    UnpackContext* ctx = s.ctx;
    bool text = options.Format == kListText;
    // The machine-readable listings hold entries alone; what ends them early
    // goes to the error stream.
    FILE* told = text ? stdout : stderr;
    const char* prefix = text ? "" : "qvinstall: ";
    if (text) {
        PrintTextHeading(stdout, file, ctx->ArchiveFormat == kFormatOldSignature, s.walk.ArchiveStart,
                         ctx->ArchiveHeader.BlockFlags);
    } else if (options.Format == kListTsv) {
        PrintTsvHeader(stdout);
    }
    uint64_t packed = 0, unpacked = 0;
    uint32_t files = 0;
    int result = kInstallOk;
    WalkStep step;
    while ((step = NextArchiveEntry(&s.walk)) != kWalkEnd) {
        const FileBlockHeader* h = &ctx->EntryHeader;
        if (step == kWalkMissingVolume || step == kWalkDamagedEntry || step == kWalkDamagedArchive) {
            std::string problem = WalkProblem(ctx, step, &result);
            if (step == kWalkDamagedEntry)
                fprintf(told, "%sdamaged: the entry at offset %d (%s): %s\n", prefix, ctx->BlockStart,
                        ShownStoredName(h->Name, charset).c_str(), problem.c_str());
            else
                fprintf(told, "%s%s%s\n", prefix, step == kWalkMissingVolume ? "incomplete: " : "", problem.c_str());
            break;
        }
        if (PlannedFor(plan, index++) != kSelectInstall && step != kWalkContinuedEntry) continue;
        if (!text) {
            PrintEntryRecord(stdout, options.Format, h, charset, EntryDataOffset(ctx),
                             CheckEntry(ctx, h) == kEntryAccepted);
            if (step == kWalkContinuedEntry) {
                fprintf(stderr, "qvinstall: incomplete: continued from a previous volume\n");
                result = kInstallNoArchive;
                break;
            }
            continue;
        }
        // The installer's own rule, as install applies it before writing.
        PrintTextEntry(stdout, h, charset, EntryDataOffset(ctx), CheckEntry(ctx, h), step == kWalkContinuedEntry);
        packed += h->PackedSize;
        unpacked += h->UnpackedSize;
        files++;
        if (step == kWalkContinuedEntry) {
            result = kInstallNoArchive;
            break;
        }
    }
    if (!text) {
        CloseSession(s);
        return result;
    }
    PrintTextTotals(stdout, packed, unpacked, files, s.walk.SubBlocks);
    CloseSession(s);
    return result;
}

// Decodes every entry as the installer would, into a null sink, so that
// the checksum runs over every byte without anything being written.
int CommandTest(const char* file, const Options& options) {
    uint32_t charset = ArchiveNameCharset(file, options.Charsets);
    std::vector<EntrySelection> plan;
    if (!PlanEntries(file, charset, options.Names, &plan)) return kInstallFailed;
    size_t index = 0;
    Session s;
    if (!OpenSession(s, file)) return kInstallNoArchive;
    UnpackContext* ctx = s.ctx;
    int result = kInstallOk;
    uint32_t good = 0, bad = 0;
    bool broken = false;
    WalkStep step;
    while ((step = NextArchiveEntry(&s.walk)) != kWalkEnd) {
        const FileBlockHeader* h = &ctx->EntryHeader;
        if (step != kWalkFile && step != kWalkDirectory) {
            int code;
            std::string problem = WalkProblem(ctx, step, &code);
            if (step == kWalkContinuedEntry || step == kWalkDamagedEntry) {
                fprintf(stderr, "FAILED  %s (%s)\n", ShownStoredName(h->Name, charset).c_str(), problem.c_str());
                bad++;
            } else {
                fprintf(stderr, "FAILED  %s\n", problem.c_str());
            }
            if (result == kInstallOk) result = code;
            broken = true;
            break;
        }
        EntrySelection chosen = PlannedFor(plan, index++);
        if (chosen == kSelectStop) break;
        if (chosen == kSelectDecodeOnly) DecodeArchiveEntry(&s.walk, nullptr);
        if (chosen != kSelectInstall) continue;
        const char* problem = nullptr;
        int code = kInstallOk;
        if (!IsSupportedVersion(h)) {
            problem = "needs an unsupported version";
            code = kInstallFailed;
        } else if (!IsSupportedMethod(ctx, h)) {
            problem = h->MethodCode == kMethodStore ? "needs method 0 (stored), which the installer does not have"
                                                    : "needs a method the installer does not have";
            code = kInstallFailed;
        }
        if (step == kWalkFile) {
            EntrySink sink = NullSink();
            bool matches = DecodeArchiveEntry(&s.walk, problem ? nullptr : &sink);
            if (!problem && !matches) {
                problem = "checksum mismatch";
                code = kInstallBadChecksum;
            }
            if (!problem && !IsSafeStoredName(h->Name)) {
                problem = "unsafe name, the installer refuses it";
                code = kInstallFailed;
            }
        }
        if (problem) {
            fprintf(stderr, "FAILED  %s (%s)\n", ShownStoredName(h->Name, charset).c_str(), problem);
            if (result == kInstallOk) result = code;
            bad++;
        } else {
            if (!options.Quiet) printf("OK      %s\n", ShownStoredName(h->Name, charset).c_str());
            good++;
        }
    }
    // A failure's summary goes with the failures; standard output holds a
    // whole result alone.
    if (!options.Quiet)
        fprintf(result == kInstallOk ? stdout : stderr, "%u entries OK, %u failed%s\n", good, bad,
                broken ? "; the archive is not whole" : "");
    CloseSession(s);
    return result;
}

// One installation: how it is shown, the selection it follows and the
// target as the command line gave it. The driver hands it to every hook as
// their owner.
struct Installation {
    ProgressDisplay progress;
    std::vector<EntrySelection> plan;  // none: every entry
    std::vector<bool> planFile;        // which of the planned entries are files
    size_t planAt = 0;                 // the entry the driver is at
    std::string targetArg;
    bool targetRefused = false;  // it could not be made, or is no directory
};

Installation* InstallationOf(void* owner) { return static_cast<Installation*>(owner); }

EntrySelection SelectPlanned(void* owner, const FileBlockHeader* header) {
    Installation* in = InstallationOf(owner);
    while (in->planAt < in->planFile.size() && !in->planFile[in->planAt]) in->planAt++;  // directory entries
    EntrySelection chosen = PlannedFor(in->plan, in->planAt++);
    const ProgressDisplay& p = in->progress;
    if (chosen == kSelectDecodeOnly && !p.Quiet && !p.Terminal)
        fprintf(stderr, "skipping %s\n", ShownStoredName(header->Name, p.Charset).c_str());
    return chosen;
}

void ShowStatusLine(void* owner, const char* name) { ShowEntryStarted(&InstallationOf(owner)->progress, name); }

void ShowErrorLine(void* owner, const char* text, const char* caption) {
    ProgressDisplay* p = &InstallationOf(owner)->progress;
    EndProgressLine(p);
    fprintf(stderr, "qvinstall: %s: %s\n", ShownCaption(p, caption).c_str(), text);
}

// A file that could not be written: the system's reason, which tells a
// full disk from a file in use.
void ShowWriteFailureLine(void* owner, const char* text, const char* caption, uint32_t systemError) {
    ProgressDisplay* p = &InstallationOf(owner)->progress;
    EndProgressLine(p);
    fprintf(stderr, "qvinstall: %s: %s %s\n", ShownCaption(p, caption).c_str(), text,
            SystemReason(systemError).c_str());
}

// The target is made only once the archive has been checked whole.
bool MakeTarget(void* owner, const char* targetDir) {
    Installation* in = InstallationOf(owner);
    char target[kPathSize];
    memcpy(target, targetDir, kPathSize);
    size_t n = strlen(target);
    if (n > 1 && target[n - 1] == '\\' && target[n - 2] != ':') target[n - 1] = '\0';
    if (CheckFileExists(target) == kFileMissing) CreatePathTree(target);
    if (CheckFileExists(target) == kFileMissing) {
        fprintf(stderr, "qvinstall: %s: Cannot create path. %s\n", in->targetArg.c_str(), strerror(errno));
        in->targetRefused = true;
        return false;
    }
    if (!IsDirectory(in->targetArg.c_str())) {
        fprintf(stderr, "qvinstall: %s: not a directory\n", in->targetArg.c_str());
        in->targetRefused = true;
        return false;
    }
    return true;
}

// Which entries are files, and the unpacked size of each (0 for a
// directory); a terminal is told why the archive cannot be read.
void ReadEntryKinds(const char* file, bool quiet, std::vector<bool>* isFile, std::vector<uint64_t>* sizes) {
    Session s;
    if (!OpenSession(s, file, quiet)) return;
    WalkStep step;
    while ((step = NextArchiveEntry(&s.walk)) == kWalkFile || step == kWalkDirectory) {
        isFile->push_back(step == kWalkFile);
        sizes->push_back(step == kWalkFile ? s.ctx->EntryHeader.UnpackedSize : 0);
    }
    CloseSession(s);
}

const char* DescribeResult(uint32_t result) {
    switch (result) {
        case kInstallFailed: return "an entry could not be installed or a file could not be written";
        case kInstallNoArchive: return "no complete archive found";
        case kInstallBadChecksum: return "the installer is damaged or incomplete";
        case kInstallBadTarget: return "the target cannot take the files";
        case kInstallNoWindow: return "out of memory";
        default: return "failed";
    }
}

int CommandInstall(const char* file, const char* targetArg, const Options& options) {
    char archive[kPathSize];
    char target[kPathSize];
    CorePathResult taken = ToCorePath(file, archive, sizeof archive);
    if (taken != kCorePathOk) {
        fprintf(stderr, "qvinstall: %s: %s\n", file, CorePathProblem(taken));
        return kInstallNoArchive;
    }
    // One character of room stays for the backslash the installer appends.
    taken = ToCorePath(targetArg, target, sizeof target - 1);
    if (taken != kCorePathOk) {
        fprintf(stderr, "qvinstall: %s: %s\n", targetArg,
                taken == kCorePathEmpty ? "empty target" : CorePathProblem(taken));
        return kExitCannotCreate;
    }
    FILE* probe = fopen(file, "rb");
    if (!probe) {
        fprintf(stderr, "qvinstall: cannot open %s: %s\n", file, strerror(errno));
        return kInstallNoArchive;
    }
    fclose(probe);
    Installation in;
    ProgressDisplay& progress = in.progress;
    in.targetArg = targetArg;
    progress.Terminal = QV_ISATTY(QV_FILENO(stderr)) != 0;
    progress.Quiet = options.Quiet;
    std::vector<uint64_t> sizes;
    if (progress.Terminal || !options.Names.empty()) ReadEntryKinds(file, !progress.Terminal, &in.planFile, &sizes);
    // The stored names below the target become names of this system's
    // character set (the Windows installer hands them to the system as
    // they are).
    progress.Charset = ArchiveNameCharset(file, options.Charsets);
    if (!options.Names.empty() && !PlanEntries(file, progress.Charset, options.Names, &in.plan)) return kInstallFailed;
    // The share done and the count shown are of the entries installed, no others.
    for (size_t i = 0; i < sizes.size() && progress.Terminal; i++)
        if (in.planFile[i] && (options.Names.empty() || PlannedFor(in.plan, i) == kSelectInstall))
            ExpectEntry(&progress, sizes[i]);
    progress.ArchiveCore = archive;
    char root[kPathSize];
    memcpy(root, target, sizeof root);
    AddTrailingBackslash(root);
    progress.TargetCore = root;
#ifndef _WIN32
    PlatformConvertNamesBelow(progress.Charset == kCharsetLocale ? nullptr : root, progress.Charset);
#endif
    // Ctrl-C, a closed terminal or a kill leaves no temporary file behind.
    PlatformRemoveTemporaryOnSignals();
    HostUiHooks hooks = {ShowStatusLine, ShowErrorLine, ShowWriteFailureLine};
    SetHostUiHooks(&hooks);
    uint32_t result = InstallFromArchive(&in, archive, target, MakeTarget,
                                         options.Names.empty() ? nullptr : SelectPlanned);
    if (result == kInstallBadTarget && in.targetRefused) result = kExitCannotCreate;
    SetHostUiHooks(nullptr);
    EndProgressLine(&progress);
    if (result == kInstallOk) {
        if (!options.Quiet) fprintf(stderr, "installed %zu files into %s\n", progress.Shown, targetArg);
    } else {
        fprintf(stderr, "qvinstall: installation failed (%u): %s\n", result,
                DescribeResult(result));
    }
    return static_cast<int>(result);
}

// Reads a code page number; false when it is none or not one the names
// can be converted from.
bool ParseCodePage(const char* text, uint32_t* codePage) {
    char* end = nullptr;
    unsigned long v = strtoul(text, &end, 10);
    if (!*text || *end || v == 0 || v > kLargestCodePage || !IsSingleByteCodePage(static_cast<uint32_t>(v)))
        return false;
    *codePage = static_cast<uint32_t>(v);
    return true;
}

// Takes the options among args (after the command) into options and the
// rest, in order, into files; false with a message on a mistake.
bool ParseArguments(int argc, char** argv, Options* options, std::vector<const char*>* files) {
    bool optionsEnded = false;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        if (optionsEnded) {
            files->push_back(argv[i]);
            continue;
        }
        // --opt=value as well as --opt value.
        bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : "";
        bool inlineValue = false;
        size_t equals = a.find('=');
        if (a.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = argv[i] + equals + 1;
            a.resize(equals);
            hasValue = inlineValue = true;
        }
        bool takesValue = a == "--format" || a == "--codepage" || a == "--oem-codepage";
        if (takesValue && hasValue && !inlineValue) i++;
        if (inlineValue && !takesValue) {
            fprintf(stderr, "qvinstall: %s takes no value\n", a.c_str());
            return false;
        }
        if (a == "--") {
            optionsEnded = true;
        } else if (a == "-q" || a == "--quiet") {
            options->Quiet = true;
        } else if (a == "--format") {
            std::string f = value;
            if (f == "text") options->Format = kListText;
            else if (f == "json") options->Format = kListJson;
            else if (f == "tsv") options->Format = kListTsv;
            else {
                fprintf(stderr, "qvinstall: --format takes text, json or tsv\n");
                return false;
            }
        } else if (a == "--codepage" || a == "--oem-codepage") {
            uint32_t* into = a == "--codepage" ? &options->Charsets.CodePage : &options->Charsets.OemCodePage;
            if (a == "--codepage") options->Charsets.CodePageGiven = true;
            if (!hasValue || !ParseCodePage(value, into)) {
                fprintf(stderr, "qvinstall: %s needs a single-byte code page this system knows, such as 1252\n",
                        a.c_str());
                return false;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "qvinstall: unknown option %s\n", a.c_str());
            return false;
        } else {
            files->push_back(argv[i]);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    setlocale(LC_CTYPE, "");
    if (argc < 2) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        PrintToolVersion("qvinstall", "reads the archives of its time and");
        return 0;
    }
    Options options;
    std::vector<const char*> files;
    bool known = command == "list" || command == "test" || command == "install";
    if (known && !ParseArguments(argc, argv, &options, &files)) {
        fputs("Try 'qvinstall --help'.\n", stderr);
        return kExitUsage;
    }
    if (options.Format != kListText && command != "list") {
        fprintf(stderr, "qvinstall: --format is for list\n");
    } else if ((command == "list" || command == "test") && files.size() >= 1) {
        options.Names.assign(files.begin() + 1, files.end());
        return command == "list" ? CommandList(files[0], options) : CommandTest(files[0], options);
    } else if (command == "install" && files.size() >= 2) {
        options.Names.assign(files.begin() + 2, files.end());
        return CommandInstall(files[0], files[1], options);
    } else if (known) {
        fprintf(stderr, "qvinstall: wrong number of arguments for %s\n", command.c_str());
    } else {
        fprintf(stderr, "qvinstall: unknown command '%s'\n", command.c_str());
    }
    fputs("Try 'qvinstall --help'.\n", stderr);
    return kExitUsage;
}
