// qvpack: builds an installer (or a bare archive) from a directory.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <locale.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install/charset.h"
#include "pack/archivewriter.h"
#include "pack/fileorder.h"
#include "pack/lzencoder.h"
#include "pack/names.h"
#include "pack/progressline.h"
#include "pack/stubcheck.h"
#include "tools/host.h"

namespace {

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
    "  -o OUT            output file (default: DIR's name with .exe, or .rar with\n"
    "                    --archive-only)\n"
    "  --stub IMAGE      the installer program the archive is appended to\n"
    "  --archive-only    write the archive alone\n"
    "  --list FILE       pack only the files FILE names (paths relative to DIR,\n"
    "                    one a line), in that order; default: every file, in an\n"
    "                    order that keeps files of alike content together\n"
    "  --codepage N      the Windows code page names are stored in: the ANSI code\n"
    "                    page of the systems the installer is for (default 1252,\n"
    "                    Western European; 1250 Central European, 1251 Cyrillic,\n"
    "                    1253 Greek, ...); one byte a character\n"
    "  --no-verify       skip decoding the result again to check it\n"
    "  -q                no progress and no summary (warnings are still shown)\n"
    "  -h, --help        this text\n"
    "\n"
    "What is delivered: every regular file, under its path below DIR. Names are\n"
    "read in the locale's character set (UTF-8 in the C locale) and stored in the\n"
    "code page, since the installer creates them with the 8-bit Windows file\n"
    "calls. Refused, with exit 2 and the name: a name the code page cannot hold;\n"
    "the characters < > : \" | ? * \\ and control characters; a name ending in a\n"
    "dot or a space (Windows would create another); a device name such as CON or\n"
    "LPT1 as any part; two names that differ only in case.\n"
    "Not delivered: empty directories (the installer makes directories only for\n"
    "the files in them): each is named in a warning. Symbolic links are followed:\n"
    "what a link names is packed as a copy under the link's name; a link back to\n"
    "a directory it lies in is a loop and refused. A warning also names each\n"
    "directory whose path under the installer's default target would pass the\n"
    "247 characters Windows creates, and each longer path it could not open.\n"
    "\n"
    "Files are stored with their modification time; when SOURCE_DATE_EPOCH is set,\n"
    "later times are clamped to it and stored as UTC, so that the same input gives\n"
    "the same bytes.\n"
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

}  // namespace

// Reads a code page number for --codepage: one of one byte a character
// that the converter knows.
bool ParseCodePage(const std::string& text, uint32_t* codePage) {
    char* end = nullptr;
    unsigned long v = strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || v == 0 || v > kLargestCodePage || !IsSingleByteCodePage(static_cast<uint32_t>(v)))
        return false;
    *codePage = static_cast<uint32_t>(v);
    return true;
}

void ShowWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) fprintf(stderr, "qvpack: warning: %s\n", w.c_str());
}

int main(int argc, char** argv) {
    setlocale(LC_CTYPE, "");
    int level = kDefaultLevel;
    CollectOptions collect;
    std::vector<std::string> warnings;
    collect.Warnings = &warnings;
    std::string out, stub, list, dir;
    bool archiveOnly = false, verify = true, quiet = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](std::string* into) {
            if (i + 1 >= argc) return false;
            *into = argv[++i];
            return true;
        };
        if (a == "-h" || a == "--help") {
            fputs(kUsage, stdout);
            printf("\nMemory, whatever the size of the files: the compressor takes at most %.1f MB\n"
                   "at levels 1-3 and %.1f MB at 4-5; ordering the files by content (without\n"
                   "--list) takes up to 4 MB more, and a few hundred bytes per file are kept.\n",
                   static_cast<double>(LzEncoderMemory(3)) / 1e6, static_cast<double>(LzEncoderMemory(5)) / 1e6);
            return kExitOk;
        } else if (a.size() == 2 && a[0] == '-' && a[1] >= '1' && a[1] <= '5') {
            level = a[1] - '0';
        } else if (a == "-o") {
            if (!value(&out)) return Fail(kExitUsage, "-o needs a file name");
        } else if (a == "--stub") {
            if (!value(&stub)) return Fail(kExitUsage, "--stub needs the installer program's file");
        } else if (a == "--list") {
            if (!value(&list)) return Fail(kExitUsage, "--list needs a file");
        } else if (a == "--codepage") {
            std::string number;
            if (!value(&number) || !ParseCodePage(number, &collect.CodePage))
                return Fail(kExitUsage, "--codepage needs a single-byte code page this system knows, such as 1252");
        } else if (a == "--archive-only") {
            archiveOnly = true;
        } else if (a == "--no-verify") {
            verify = false;
        } else if (a == "-q") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Fail(kExitUsage, "unknown option " + a + " (see --help)");
        } else if (dir.empty()) {
            dir = a;
        } else {
            return Fail(kExitUsage, "only one directory can be packed (see --help)");
        }
    }
    if (dir.empty()) return Fail(kExitUsage, "no directory given (see --help)");
    if (archiveOnly == !stub.empty())
        return Fail(kExitUsage, "give either --stub IMAGE (to build an installer) or --archive-only");
    if (out.empty()) out = BaseName(dir) + (archiveOnly ? ".rar" : ".exe");

    std::vector<uint8_t> image;
    std::string error;
    if (!stub.empty()) {
        if (!ReadWholeFile(stub, &image)) return Fail(kExitInput, "cannot read the installer program " + stub);
        if (!CheckStubImage(image.data(), image.size(), &error)) return Fail(kExitInput, stub + ": " + error);
    }
    int64_t clampTime = -1;
    if (const char* epoch = getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        long long v = strtoll(epoch, &end, 10);
        if (!*epoch || *end || v < 0) return Fail(kExitUsage, "SOURCE_DATE_EPOCH is not a number of seconds");
        clampTime = v;
    }
    std::vector<PackSource> sources;
    bool collected = CollectSources(dir, list, clampTime, &sources, &error, collect);
    ShowWarnings(warnings);
    if (!collected) return Fail(kExitInput, error);
    if (list.empty() && !OrderForPacking(&sources, &error)) return Fail(kExitInput, error);

    std::string temp = out + ".tmp" + std::to_string(getpid());
    FILE* f = fopen(temp.c_str(), "wb");
    if (!f) return Fail(kExitOutput, "cannot write " + out + ": " + strerror(errno));
    ProgressLine progress = StartProgressLine(!quiet && isatty(2) != 0 ? stderr : nullptr, "packing");
    bool written = image.empty() || fwrite(image.data(), 1, image.size(), f) == image.size();
    ArchiveSummary summary;
    PackFailure failure = kPackFailedInput;
    if (written && !WriteArchive(f, &sources, level, UpdateProgressLine, &progress, &summary, &error, &failure)) {
        EndProgressLine(&progress);
        fclose(f);
        remove(temp.c_str());
        return Fail(failure == kPackFailedInput ? kExitInput : kExitOutput, error);
    }
    EndProgressLine(&progress);
    if (fclose(f) != 0 || !written) {
        remove(temp.c_str());
        return Fail(kExitOutput, "cannot write " + out);
    }
    if (!CheckArchiveLocated(temp, image.size(), &error)) {
        remove(temp.c_str());
        return Fail(kExitVerify, error);
    }
    if (verify) {
        progress.Phase = "verifying";
        bool ok = VerifyArchiveFile(temp, sources, UpdateProgressLine, &progress, &error);
        EndProgressLine(&progress);
        if (!ok) {
            remove(temp.c_str());
            return Fail(kExitVerify, "verification failed, nothing written: " + error);
        }
    }
    if (rename(temp.c_str(), out.c_str()) != 0) {
        int saved = errno;
        remove(temp.c_str());
        return Fail(kExitOutput, "cannot write " + out + ": " + strerror(saved));
    }
    if (!quiet) {
        uint64_t total = summary.ArchiveBytes + image.size();
        printf("%s: %zu files, %llu bytes packed into %llu (%.1f%%)%s\n", out.c_str(), sources.size(),
               static_cast<unsigned long long>(summary.UnpackedBytes), static_cast<unsigned long long>(total),
               summary.UnpackedBytes ? 100.0 * static_cast<double>(summary.ArchiveBytes) /
                                            static_cast<double>(summary.UnpackedBytes)
                                     : 0.0,
               verify ? ", verified" : "");
    }
    return kExitOk;
}
