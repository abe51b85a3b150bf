#include "pack/stubcheck.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "archive/blockreader.h"
#include "archive/checksum.h"
#include "archive/peimage.h"
#include "base/stream_posix.h"
#include "install/walk.h"
#include "pack/archivewriter.h"
#include "resources/resource.h"

namespace {

// Where the installer's location rule finds an archive in the stream (the
// offset of its marker or old signature), or -1; *old tells which it is.
int64_t LocatedAt(FileStream* stream, bool* old) {
    UnpackContext* ctx = CreateUnpackContext();
    if (!ctx) return -1;
    ctx->ArchiveFile = stream;
    int64_t at = -1;
    if (LocateArchive(ctx) != kArchiveNone) {
        *old = ctx->ArchiveFormat == kFormatOldSignature;
        at = static_cast<int64_t>(TellFile(stream)) - kMainHeaderSize - (*old ? 0 : kMarkerSize);
    }
    FreeAndClear(&ctx);
    return at;
}

// Why the image in stream (size bytes) is not the installer program, or
// nullptr when it is: a PE image for i386 (PE32) or x86-64 (PE32+), a
// Windows GUI program, every section's bytes within the file, carrying the
// installer's mark.
const char* NotTheInstaller(FileStream* stream, size_t size) {
    PeHeaders pe;
    if (!stream || !ReadPeHeaders(stream, &pe)) return "no PE image";
    if (!(pe.Machine == kPeMachineI386 && pe.Magic == kPeMagicPe32) &&
        !(pe.Machine == kPeMachineAmd64 && pe.Magic == kPeMagicPe32Plus))
        return "not a program for 32-bit (i386) or 64-bit (x86-64) Windows";
    if (pe.Characteristics & kPeFileDll) return "a DLL";
    if (pe.Subsystem == kPeSubsystemConsole) return "a console program";
    if (pe.Subsystem != kPeSubsystemGui) return "not a Windows GUI program";
    for (uint32_t i = 0; i < pe.SectionCount; i++) {
        PeSection s;
        if (!ReadPeSection(stream, &pe, i, &s) ||
            (s.RawSize > 0 && static_cast<uint64_t>(s.RawOffset) + s.RawSize > size))
            return "cut short (sections reach past the end of the file)";
    }
    uint32_t at = 0, length = 0;
    char mark[kInstallerMarkSize];
    if (!FindPeResource(stream, &pe, kPeResourceRcData, IDR_INSTALLER_MARK, &at, &length) ||
        length != kInstallerMarkSize || SeekFile(stream, static_cast<int32_t>(at), kSeekFromStart) != 0 ||
        ReadBytes(stream, mark, sizeof mark) != sizeof mark || memcmp(mark, kInstallerMark, sizeof mark) != 0)
        return "does not carry the installer's mark";
    return nullptr;
}

}  // namespace

bool CheckStubImage(const uint8_t* image, size_t size, std::string* error) {
    // The image is read as the file it came from.
    FileStream* imageStream = size > 0 ? AdoptFile(fmemopen(const_cast<uint8_t*>(image), size, "rb")) : nullptr;
    const char* notInstaller = NotTheInstaller(imageStream, size);
    // Signing appends the signature behind the image, where the archive goes:
    // an archive appended to a signed image breaks the signature.
    uint32_t offset = 0, tableSize = 0;
    bool signedImage = !notInstaller && FindCertificateTable(imageStream, &offset, &tableSize);
    CloseFile(imageStream);
    if (notInstaller) {
        *error = std::string("not an installer program: ") + notInstaller;
        return false;
    }
    if (signedImage) {
        *error = "the installer program is already signed, and appending the archive would break its signature; "
                 "build from the unsigned program and sign the finished installer";
        return false;
    }
    if (size > kLastScanMarker) {
        char text[160];
        snprintf(text, sizeof text, "the installer image is %zu bytes; the installer finds its archive only within %d bytes",
                 size, static_cast<int>(kLastScanMarker));
        *error = text;
        return false;
    }
    // The image followed by the start of an archive: marker and main header.
    std::vector<uint8_t> file(image, image + size);
    file.insert(file.end(), kMarker, kMarker + kMarkerSize);
    uint8_t mainHeader[kMainHeaderSize];
    ComposeMainHeader(mainHeader);
    file.insert(file.end(), mainHeader, mainHeader + kMainHeaderSize);
    FileStream* stream = AdoptFile(fmemopen(file.data(), file.size(), "rb"));
    if (!stream) {
        *error = "out of memory";
        return false;
    }
    bool old = false;
    int64_t hit = LocatedAt(stream, &old);
    CloseFile(stream);
    if (hit != static_cast<int64_t>(size)) {
        char text[200];
        snprintf(text, sizeof text,
                 "the installer image holds %s at offset %lld that the installer would take for its archive",
                 old ? "an old archive signature (\"RE~^\" with \"RSFX\" at offset 28)" : "an archive marker",
                 static_cast<long long>(hit));
        *error = text;
        return false;
    }
    return true;
}

bool CheckArchiveLocated(const std::string& path, uint64_t archiveOffset, std::string* error) {
    FileStream* f = OpenStream(path.c_str(), "rb", kStreamShareAll);
    if (!f) {
        *error = "cannot open " + path;
        return false;
    }
    bool old = false;
    int64_t hit = LocatedAt(f, &old);
    CloseFile(f);
    if (hit != static_cast<int64_t>(archiveOffset) || old) {
        *error = "the installer does not find the archive at offset " + std::to_string(archiveOffset);
        return false;
    }
    return true;
}
