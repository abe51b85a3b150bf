#include "pack/archivewriter.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "archive/checksum.h"
#include "base/dostime.h"
#include "base/littleendian.h"
#include "base/stream.h"
#include "install/walk.h"
#include "pack/lzencoder.h"
#include "pack/names.h"

namespace {

// Only the CRC table of this context is used.
const UnpackContext* CrcContext() {
    static UnpackContext* ctx = nullptr;
    if (!ctx) ctx = CreateUnpackContext();
    if (!ctx) abort();
    return ctx;
}

}  // namespace

void ComposeMainHeader(uint8_t* header) {
    memset(header, 0, kMainHeaderSize);
    header[kFieldBlockType] = kBlockMain;
    StoreU16(header + kFieldBlockFlags, kMainFlagSolid);
    StoreU16(header + kFieldHeaderSize, kMainHeaderSize);
    StoreU32(header + kMainFieldReserved32, kSealedArchiveTag);
    StampHeaderChecksum(CrcContext(), header, kMainHeaderSize);
}

void ComposeClosingBlock(uint8_t* block, uint32_t entries, uint32_t length, uint32_t crcRegister,
                         uint16_t codePage) {
    memset(block, 0, kClosingHeaderSize);
    block[kFieldBlockType] = kBlockClosing;
    StoreU16(block + kFieldBlockFlags, kBlockFlagSkipIfUnknown);
    StoreU16(block + kFieldHeaderSize, kClosingHeaderSize);
    StoreU32(block + kClosingFieldEntries, entries);
    StoreU32(block + kClosingFieldLength, length);
    StoreU32(block + kClosingFieldArchiveCrc, ~crcRegister);
    StoreU16(block + kClosingFieldCodePage, codePage);
    StampHeaderChecksum(CrcContext(), block, kClosingHeaderSize);
}

namespace {

std::string Describe(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + strerror(errno);
}

void RecordState(PackSource* s, const struct stat& st) {
    s->Size = static_cast<uint64_t>(st.st_size);
    s->Modified = st.st_mtim;
    s->Changed = st.st_ctim;
}

bool Same(const struct timespec& a, const struct timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool IsAsRecorded(const PackSource& s, const struct stat& st) {
    return static_cast<uint64_t>(st.st_size) == s.Size && Same(st.st_mtim, s.Modified) && Same(st.st_ctim, s.Changed);
}

// Feeds one file to the compressor as the next entry, in pieces, and
// fills in its checksum.
bool PackFile(LzEncoder* encoder, PackSource* s, std::string* error) {
    FILE* f = fopen(s->Path.c_str(), "rb");
    if (!f) {
        *error = Describe("cannot open", s->Path);
        return false;
    }
    StartEntry(encoder);
    uint8_t chunk[1 << 16];
    uint64_t total = 0;
    uint32_t crc = 0xFFFFFFFFu;
    size_t got;
    while (total <= s->Size && (got = fread(chunk, 1, sizeof chunk, f)) > 0) {
        total += got;
        if (total > s->Size) break;  // grown since it was listed
        crc = Crc32Update(CrcContext(), crc, chunk, static_cast<uint32_t>(got));
        AddEntryBytes(encoder, chunk, static_cast<uint32_t>(got));
    }
    bool failed = ferror(f) != 0;
    // What was read is the file as listed only when it still is so.
    struct stat after;
    bool same = fstat(fileno(f), &after) == 0 && IsAsRecorded(*s, after);
    fclose(f);
    if (failed) {
        *error = Describe("cannot read", s->Path);
        return false;
    }
    if (total != s->Size || !same) {
        *error = s->Path + ": changed while it was read";
        return false;
    }
    EndEntry(encoder);
    s->DataCrc = ~crc;
    return true;
}

// One walk or list over the input: how names are stored, what is told, the
// directories being walked (a link back to one of them is a loop), every
// problem found so far, the total size and how many times were clamped.
struct Collecting {
    int64_t ClampTime;
    CollectOptions Options;
    std::vector<std::pair<dev_t, ino_t>> OpenDirectories;
    std::vector<std::string> Problems;
    uint64_t Total;
    uint32_t Before1980;
};

void Problem(Collecting* run, const std::string& text) { run->Problems.push_back(text); }

// Whether a time falls before 1980, the first year MS-DOS dates hold.
bool Before1980(int64_t unixTime, bool utc) {
    time_t t = static_cast<time_t>(unixTime);
    struct tm parts;
    if (!(utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts))) return unixTime < 0;
    return parts.tm_year + 1900 < 1980;
}

// Why path, which stat could not follow, cannot be read: a link that names
// nothing is said so; anything else with the system's reason.
std::string Unreachable(const std::string& path) {
    int saved = errno;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && saved == ENOENT)
        return path + ": a symbolic link to nothing (dangling)";
    errno = saved;
    return Describe("cannot read", path);
}

void AddSource(Collecting* run, const std::string& path, const std::string& name, std::vector<PackSource>* out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return Problem(run, Unreachable(path));
    if (!S_ISREG(st.st_mode)) return Problem(run, path + ": not a regular file (a device, a fifo or a socket)");
    if (run->Options.LeaveOut && static_cast<uint64_t>(st.st_dev) == run->Options.LeaveOutDevice &&
        static_cast<uint64_t>(st.st_ino) == run->Options.LeaveOutInode) {
        if (run->Options.Warnings)
            run->Options.Warnings->push_back(path + ": the output file, inside the directory: left out of the packing");
        return;
    }
    std::string error;
    PackSource s;
    bool named = StoredNameOf(name, run->Options.CodePage, &s.Name, &error);
    if (!named) Problem(run, error);
    if (static_cast<uint64_t>(st.st_size) > kMaxEntrySize)
        return Problem(run, path + ": larger than the 2 GB an installer entry can hold");
    // Read later, after all the packing work before it: found out now.
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return Problem(run, Describe("cannot open", path));
    fclose(f);
    run->Total += static_cast<uint64_t>(st.st_size);
    if (!named) return;
    s.Path = path;
    RecordState(&s, st);
    int64_t mtime = st.st_mtime;
    if (run->ClampTime >= 0 && mtime > run->ClampTime) mtime = run->ClampTime;
    if (Before1980(mtime, run->ClampTime >= 0)) run->Before1980++;
    s.DosDateTime = DosDateTimeOf(mtime, run->ClampTime >= 0);
    s.Attributes = (st.st_mode & S_IWUSR) ? kAttrArchive : kAttrReadOnly;
    out->push_back(s);
}

void Warn(Collecting* run, const std::string& text) {
    if (run->Options.Warnings) run->Options.Warnings->push_back(text);
}

// The directory dir (already stat'ed as st), its files stored under prefix.
void CollectDirectory(Collecting* run, const std::string& dir, const struct stat& st, const std::string& prefix,
                      std::vector<PackSource>* out) {
    for (const auto& open : run->OpenDirectories)
        if (open.first == st.st_dev && open.second == st.st_ino)
            return Problem(run, dir + ": a symbolic link back to a directory that holds it (a loop)");
    DIR* d = opendir(dir.c_str());
    if (!d) return Problem(run, Describe("cannot read directory", dir));
    std::vector<std::string> names;
    while (struct dirent* ent = readdir(d)) {
        std::string n = ent->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());  // warnings and problems in a steady order
    if (names.empty() && !prefix.empty()) {
        Warn(run, ShownName(dir) + ": an empty directory is not delivered (the installer makes directories only "
                                   "for the files in them)");
        return;
    }
    run->OpenDirectories.push_back(std::make_pair(st.st_dev, st.st_ino));
    for (const std::string& n : names) {
        std::string path = dir + "/" + n;
        if (n.find('\\') != std::string::npos) {
            Problem(run, path + ": a name with '\\' cannot be stored (the installer reads it as a separator)");
            continue;
        }
        struct stat entry;
        if (stat(path.c_str(), &entry) != 0)
            Problem(run, Unreachable(path));
        else if (S_ISDIR(entry.st_mode))
            CollectDirectory(run, path, entry, prefix + n + "\\", out);
        else
            AddSource(run, path, prefix + n, out);
    }
    run->OpenDirectories.pop_back();
}

// The files a list names, in its order.
void CollectList(Collecting* run, const std::string& dir, const std::string& listFile, std::vector<PackSource>* out) {
    FILE* f = fopen(listFile.c_str(), "r");
    if (!f) return Problem(run, Describe("cannot open list", listFile));
    char line[4096];
    int number = 0;
    while (fgets(line, sizeof line, f)) {
        number++;
        std::string item = line;
        while (!item.empty() && (item.back() == '\n' || item.back() == '\r')) item.pop_back();
        if (item.empty() || item[0] == '#') continue;
        std::replace(item.begin(), item.end(), '/', '\\');
        // "./a.txt" and "doc/./a.txt" name what "a.txt" and "doc/a.txt" do.
        while (item.compare(0, 2, ".\\") == 0) item.erase(0, 2);
        for (size_t at; (at = item.find("\\.\\")) != std::string::npos;) item.erase(at, 2);
        std::string where = listFile + ":" + std::to_string(number) + ": ";
        std::string padded = "\\" + item + "\\";
        if (item[0] == '\\' || padded.find("\\..\\") != std::string::npos ||
            padded.find("\\.\\") != std::string::npos || item.find(':') != std::string::npos) {
            Problem(run, where + item + ": names must be relative paths inside the directory");
            continue;
        }
        std::string path = item;
        std::replace(path.begin(), path.end(), '\\', '/');
        size_t before = run->Problems.size();
        AddSource(run, dir + "/" + path, item, out);
        for (size_t i = before; i < run->Problems.size(); i++) run->Problems[i] = where + run->Problems[i];
    }
    fclose(f);
}

}  // namespace

bool RecordSourceState(PackSource* s, std::string* error) {
    struct stat st;
    if (stat(s->Path.c_str(), &st) != 0) {
        *error = Describe("cannot read", s->Path);
        return false;
    }
    RecordState(s, st);
    return true;
}

uint32_t DosDateTimeOf(int64_t unixTime, bool utc) {
    time_t t = static_cast<time_t>(unixTime);
    struct tm parts;
    static const DosTimeFields kFirst = {1980, 1, 1, 0, 0, 0}, kLast = {2107, 12, 31, 23, 59, 58};
    if (!(utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts))) return PackDosDateTime(&kFirst);
    int year = parts.tm_year + 1900;
    if (year < 1980) return PackDosDateTime(&kFirst);
    if (year > 2107) return PackDosDateTime(&kLast);
    DosTimeFields f = {static_cast<uint32_t>(year),          static_cast<uint32_t>(parts.tm_mon + 1),
                       static_cast<uint32_t>(parts.tm_mday), static_cast<uint32_t>(parts.tm_hour),
                       static_cast<uint32_t>(parts.tm_min),  static_cast<uint32_t>(parts.tm_sec)};
    return PackDosDateTime(&f);
}

bool CollectSources(const std::string& dir, const std::string& listFile, int64_t clampTime,
                    std::vector<PackSource>* sources, std::string* error, const CollectOptions& options) {
    sources->clear();
    if (options.Problems) options.Problems->clear();
    Collecting run = {clampTime, options, {}, {}, 0, 0};
    if (!IsSingleByteCodePage(options.CodePage)) {
        Problem(&run, "code page " + std::to_string(options.CodePage) +
                          " is not a single-byte code page this system's converter knows");
    } else {
        struct stat st;
        if (stat(dir.c_str(), &st) != 0)
            Problem(&run, dir + ": " + strerror(errno));
        else if (!S_ISDIR(st.st_mode))
            Problem(&run, dir + ": not a directory");
        else if (listFile.empty())
            CollectDirectory(&run, dir, st, "", sources);
        else
            CollectList(&run, dir, listFile, sources);
    }
    if (listFile.empty())
        std::sort(sources->begin(), sources->end(),
                  [](const PackSource& a, const PackSource& b) { return a.Name < b.Name; });
    // Windows names ignore case: two names that differ only in case would
    // land on one file. Each pair is told.
    std::vector<std::pair<std::string, std::string>> folded;
    std::vector<std::string> stored;
    for (const PackSource& s : *sources) {
        folded.push_back(std::make_pair(FoldedStoredName(s.Name, options.CodePage), s.Path));
        stored.push_back(s.Name);
    }
    std::sort(folded.begin(), folded.end());
    for (size_t i = 1; i < folded.size(); i++)
        if (folded[i].first == folded[i - 1].first)
            Problem(&run, folded[i - 1].second + ", " + folded[i].second + ": named twice (names are compared ignoring case)");
    if (run.Total > kMaxTotalInput)
        Problem(&run, dir + ": " + std::to_string(run.Total) +
                          " bytes of files, more than the 3.75 GB an installer can hold (the compressor counts "
                          "positions in 32 bits)");
    if (run.Problems.empty() && sources->empty()) Problem(&run, dir + ": no files to pack");
    if (!run.Problems.empty()) {
        *error = run.Problems.front();
        if (options.Problems) *options.Problems = run.Problems;
        return false;
    }
    if (options.Warnings) {
        WarnLongStoredPaths(stored, options.Warnings);
        if (run.Before1980)
            options.Warnings->push_back(std::to_string(run.Before1980) + (run.Before1980 == 1 ? " file" : " files") +
                                        " dated before 1980 " + (run.Before1980 == 1 ? "is" : "are") +
                                        " stored as 1980-01-01");
    }
    return true;
}

namespace {

struct WriteState {
    FILE* Out;
    std::vector<PackSource>* Sources;
    uint8_t Method;
    PackProgressFn Progress;
    void* ProgressUser;
    uint64_t Total;
    uint64_t Written;
    bool Failed;
    std::string Error;
    PackFailure Failure;
    uint32_t OpenEntry;    // the entry whose header waits for its sizes, or kNoEntry
    long OpenHeaderAt;     // where that header stands
    uint64_t OpenHeaderOffset;         // the same, counted from the archive's start
    std::vector<uint8_t> OpenHeader;   // its bytes as first written
    uint64_t OpenPacked;   // its packed bytes written so far
    uint32_t Crc;          // CRC-32 register over every byte written so far, as it now stands
};

const uint32_t kNoEntry = 0xFFFFFFFFu;

// Records that the output could not be written, with the system's reason.
void FailOutput(WriteState* w) {
    w->Failed = true;
    w->Error = std::string("cannot write the archive: ") + strerror(errno);
    w->Failure = kPackFailedOutput;
}

void WriteBytesOut(WriteState* w, const uint8_t* data, size_t size) {
    if (w->Failed || size == 0) return;
    if (fwrite(data, 1, size, w->Out) != size) FailOutput(w);
    w->Crc = Crc32Update(CrcContext(), w->Crc, data, static_cast<uint32_t>(size));
    w->Written += size;
}

// A header rewritten in place changes the CRC-32 of everything written
// since it began. The CRC is linear in the bytes: the change is the CRC
// (from 0) of old XOR new bytes, carried through the zeros that stand for
// the bytes behind them. Costs one pass over those bytes, never a reread.
void RewriteInCrc(WriteState* w, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    std::vector<uint8_t> change(before.size());
    for (size_t i = 0; i < change.size(); i++) change[i] = before[i] ^ after[i];
    uint32_t delta = Crc32Update(CrcContext(), 0, change.data(), static_cast<uint32_t>(change.size()));
    static const uint8_t kZeros[1 << 16] = {};
    uint64_t behind = w->Written - w->OpenHeaderOffset - before.size();
    while (behind > 0) {
        uint32_t take = behind < sizeof kZeros ? static_cast<uint32_t>(behind) : static_cast<uint32_t>(sizeof kZeros);
        delta = Crc32Update(CrcContext(), delta, kZeros, take);
        behind -= take;
    }
    w->Crc ^= delta;
}

std::vector<uint8_t> FileHeader(const WriteState* w, uint32_t index, uint64_t packedSize) {
    const PackSource& s = (*w->Sources)[index];
    std::vector<uint8_t> h(kFileHeaderSize + s.Name.size());
    uint8_t* b = h.data();
    b[kFieldBlockType] = kBlockFile;
    StoreU16(b + kFieldBlockFlags,
             static_cast<uint16_t>(kBlockFlagAddSize | kFileDictionary1M | (index > 0 ? kFileFlagSolid : 0)));
    StoreU16(b + kFieldHeaderSize, static_cast<uint16_t>(h.size()));
    StoreU32(b + kFileFieldPackedSize, static_cast<uint32_t>(packedSize));
    StoreU32(b + kFileFieldUnpackedSize, static_cast<uint32_t>(s.Size));
    b[kFileFieldHostSystem] = kHostWin32;
    StoreU32(b + kFileFieldDataCrc, s.DataCrc);
    StoreU32(b + kFileFieldDosDateTime, s.DosDateTime);
    b[kFileFieldVersionNeeded] = kMaxVersionNeeded;  // the decoder reads what version 2.0 writes
    b[kFileFieldMethodCode] = w->Method;
    StoreU16(b + kFileFieldNameLength, static_cast<uint16_t>(s.Name.size()));
    StoreU32(b + kFileFieldAttributes, s.Attributes);
    memcpy(b + kFileFieldName, s.Name.data(), s.Name.size());
    StampHeaderChecksum(CrcContext(), b, static_cast<uint32_t>(h.size()));
    return h;
}

// The first part of a large entry's packed data, while it is still being
// packed: its header goes first with the sizes and checksum left open.
void WriteEntryPart(void* user, uint32_t index, const uint8_t* data, size_t size) {
    WriteState* w = static_cast<WriteState*>(user);
    if (w->Failed) return;
    if (w->OpenEntry != index) {
        w->OpenEntry = index;
        w->OpenHeaderAt = ftell(w->Out);
        w->OpenPacked = 0;
        if (w->OpenHeaderAt < 0) {
            FailOutput(w);
            return;
        }
        w->OpenHeaderOffset = w->Written;
        w->OpenHeader = FileHeader(w, index, 0);
        WriteBytesOut(w, w->OpenHeader.data(), w->OpenHeader.size());
    }
    WriteBytesOut(w, data, size);
    w->OpenPacked += size;
}

// Header and packed data of one entry, as soon as the compressor has it;
// or the rest of an entry begun by WriteEntryPart, whose header is then
// completed in place.
void WriteEntry(void* user, uint32_t index, const uint8_t* data, size_t size) {
    WriteState* w = static_cast<WriteState*>(user);
    if (w->OpenEntry != index) {
        std::vector<uint8_t> h = FileHeader(w, index, size);
        WriteBytesOut(w, h.data(), h.size());
        WriteBytesOut(w, data, size);
        return;
    }
    WriteBytesOut(w, data, size);
    w->OpenEntry = kNoEntry;
    if (w->Failed) return;
    std::vector<uint8_t> h = FileHeader(w, index, w->OpenPacked + size);
    bool ok = fseek(w->Out, w->OpenHeaderAt, SEEK_SET) == 0 && fwrite(h.data(), 1, h.size(), w->Out) == h.size() &&
              fseek(w->Out, 0, SEEK_END) == 0;
    if (!ok) FailOutput(w);
    RewriteInCrc(w, w->OpenHeader, h);
}

void RelayProgress(void* user, uint64_t consumed) {
    WriteState* w = static_cast<WriteState*>(user);
    if (w->Progress) w->Progress(w->ProgressUser, consumed, w->Total);
}

}  // namespace

bool WriteArchive(FILE* out, std::vector<PackSource>* sources, int level, PackProgressFn progress, void* user,
                  ArchiveSummary* summary, std::string* error, PackFailure* failure, uint32_t codePage,
                  uint32_t threads) {
    PackFailure ignored;
    if (!failure) failure = &ignored;
    *failure = kPackFailedInput;
    if (level < kMinLevel || level > kMaxLevel) {
        *error = "level must be 1 to 5";
        return false;
    }
    WriteState w = {out,           sources,          static_cast<uint8_t>('0' + level), progress, user, 0, 0, false,
                    std::string(), kPackFailedInput, kNoEntry, 0, 0, std::vector<uint8_t>(), 0, 0xFFFFFFFFu};
    for (const PackSource& s : *sources) w.Total += s.Size;
    if (w.Total > kMaxTotalInput) {
        *error = "more than 3.75 GB of files; the compressor counts positions in 32 bits";
        return false;
    }
    WriteBytesOut(&w, kMarker, sizeof kMarker);
    uint8_t main[kMainHeaderSize];
    ComposeMainHeader(main);
    WriteBytesOut(&w, main, sizeof main);

    LzEncoderSetup setup;
    setup.Level = level;
    setup.Threads = threads;
    setup.EntryPacked = WriteEntry;
    setup.EntryBytes = WriteEntryPart;
    setup.Progress = RelayProgress;
    setup.User = &w;
    LzEncoder* encoder = CreateLzEncoder(setup);
    if (!encoder) {
        *error = "out of memory";
        *failure = kPackFailedOutput;
        return false;
    }
    uint64_t unpacked = 0;
    for (PackSource& s : *sources) {
        if (!PackFile(encoder, &s, error)) {
            DestroyLzEncoder(encoder);
            return false;
        }
        unpacked += s.Size;
        if (w.Failed) break;
    }
    FinishEncoding(encoder);
    DestroyLzEncoder(encoder);
    uint8_t closing[kClosingHeaderSize];
    ComposeClosingBlock(closing, static_cast<uint32_t>(sources->size()),
                        static_cast<uint32_t>(w.Written + kClosingHeaderSize), w.Crc, static_cast<uint16_t>(codePage));
    WriteBytesOut(&w, closing, sizeof closing);
    if (w.Failed) {
        *error = w.Error;
        *failure = w.Failure;
        return false;
    }
    if (w.Written > kMaxArchiveSize) {
        *error = "the archive would pass 2 GB, more than the installer can address";
        return false;
    }
    if (summary) {
        summary->UnpackedBytes = unpacked;
        summary->ArchiveBytes = w.Written;
    }
    return true;
}

namespace {

// An entry's decoded bytes against the file it was packed from, read along.
struct SourceComparison {
    FILE* File;
    std::vector<uint8_t> Buffer;
    uint64_t Offset;  // bytes found equal so far
    bool Differs;     // at Offset (or the file could not be read there)
};

// Takes every byte, so that the decoder goes on as for any sink; compares
// until the first difference.
uint32_t CompareWithSource(void* user, const uint8_t* data, uint32_t count) {
    SourceComparison* c = static_cast<SourceComparison*>(user);
    for (uint32_t done = 0; done < count && !c->Differs;) {
        size_t want = std::min(static_cast<size_t>(count - done), c->Buffer.size());
        size_t got = fread(c->Buffer.data(), 1, want, c->File);
        size_t same = 0;
        while (same < got && c->Buffer[same] == data[done + same]) same++;
        c->Offset += same;
        c->Differs = same < want;
        done += static_cast<uint32_t>(got);
    }
    return count;
}

}  // namespace

bool VerifyArchiveFile(const std::string& path, const std::vector<PackSource>& sources, PackProgressFn progress,
                       void* user, std::string* error) {
    // Checked whole first, as the installer does before it writes anything.
    ArchiveWalk walk;
    WalkOpenResult opened = OpenInstallerFile(path.c_str(), &walk, kWalkCheckFirst);
    if (opened != kWalkOpened) {
        *error = opened == kWalkCannotOpen  ? Describe("cannot open", path)
                 : opened == kWalkNoArchive ? "the installer would not find the archive"
                 : opened == kWalkBroken    ? "the installer would find its archive damaged or incomplete"
                                            : "out of memory";
        return false;
    }
    const UnpackContext* ctx = walk.Context;
    if (!walk.Survey.Sealed || walk.Survey.Entries != sources.size()) {
        *error = "the archive does not prove itself whole";
        CloseInstallerFile(&walk);
        return false;
    }
    uint64_t total = 0, verified = 0;
    for (const PackSource& s : sources) total += s.Size;
    size_t index = 0;
    bool ok = true;
    WalkStep step;
    while (ok && (step = NextArchiveEntry(&walk)) != kWalkEnd) {
        const FileBlockHeader& h = ctx->EntryHeader;
        if (step != kWalkFile || index >= sources.size()) {
            *error = std::string("unexpected entry ") + h.Name;
            ok = false;
            break;
        }
        const PackSource& s = sources[index];
        if (s.Name != h.Name || h.UnpackedSize != s.Size || h.DataCrc != s.DataCrc || h.Attributes != s.Attributes) {
            *error = s.Name + ": the stored header does not match the file";
            ok = false;
            break;
        }
        SourceComparison compared = {fopen(s.Path.c_str(), "rb"), std::vector<uint8_t>(1 << 16), 0, false};
        if (!compared.File) {
            *error = Describe("cannot open", s.Path);
            ok = false;
            break;
        }
        EntrySink sink = ForwardSink(CompareWithSource, &compared);
        bool decoded = DecodeArchiveEntry(&walk, &sink) && sink.Taken == s.Size;
        // Nor may the file go on behind what was decoded.
        if (!compared.Differs && fgetc(compared.File) != EOF) compared.Differs = true;
        fclose(compared.File);
        if (!decoded) {
            *error = s.Name + ": decodes to different data (" + std::to_string(sink.Taken) + " bytes)";
            ok = false;
            break;
        }
        if (compared.Differs) {
            *error = s.Name + ": decodes to bytes that differ from " + s.Path + " at offset " +
                     std::to_string(compared.Offset);
            ok = false;
            break;
        }
        verified += s.Size;
        if (progress) progress(user, verified, total);
        index++;
    }
    if (ok && index != sources.size()) {
        *error = "the archive holds " + std::to_string(index) + " of " + std::to_string(sources.size()) + " files";
        ok = false;
    }
    CloseInstallerFile(&walk);
    return ok;
}
