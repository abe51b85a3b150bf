#include "support/unpack_harness.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "archive/checksum.h"
#include "install/walk.h"
#include "unpack/lzdecoder.h"

namespace qvtest {

Session::Session() {
    ctx = CreateUnpackContext();
    window = static_cast<uint8_t*>(AllocZeroed(kWindowSize));
    ctx->WindowMemory = window;
}

Session::~Session() {
    FreeAndClear(&window);
    FreeAndClear(&ctx);
}

namespace {

// The temporary file behind each stream StreamOf made.
std::map<FileStream*, std::string>& TempStreams() {
    static std::map<FileStream*, std::string> streams;
    return streams;
}

}  // namespace

FileStream* StreamOf(const Bytes& data) {
    static unsigned counter = 0;
    static const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    FileStream* stream = nullptr;
    std::string path;
    for (int attempt = 0; !stream && attempt < 100; attempt++) {
        path = (std::filesystem::temp_directory_path() /
                ("qvstream-" + std::to_string(stamp) + "-" + std::to_string(counter++) + ".bin"))
                   .string();
        stream = OpenStream(path.c_str(), "w+bx", kStreamShareAll);
    }
    if (!stream || (!data.empty() && WriteBytes(stream, data.data(), data.size()) != data.size())) abort();
    SeekFile(stream, 0, kSeekFromStart);
    TempStreams()[stream] = path;
    return stream;
}

void CloseStream(FileStream* stream) {
    if (!stream) return;
    CloseFile(stream);
    auto it = TempStreams().find(stream);
    if (it == TempStreams().end()) return;
    std::error_code ignored;
    std::filesystem::remove(it->second, ignored);
    TempStreams().erase(it);
}

Bytes ReadAll(FileStream* stream) {
    Bytes data;
    SeekFile(stream, 0, kSeekFromStart);
    uint8_t chunk[65536];
    size_t got;
    while ((got = ReadBytes(stream, chunk, sizeof chunk)) > 0) data.insert(data.end(), chunk, chunk + got);
    return data;
}

uint32_t ExpectedChecksum(const Bytes& data, uint32_t format) {
    static UnpackContext* tableHolder = nullptr;  // only its CRC table is used
    if (!tableHolder) {
        tableHolder = static_cast<UnpackContext*>(calloc(1, sizeof(UnpackContext)));
        BuildCrc32Table(tableHolder);
    }
    return ChecksumUpdate(tableHolder, format == 1 ? 0 : 0xFFFFFFFFu, data.data(),
                          static_cast<uint32_t>(data.size()), format == 1 ? 1 : 2);
}

Result Session::Run(const Entry& entry, void (*decode)(UnpackContext*, uint32_t)) {
    Bytes stream = entry.packed;
    stream.insert(stream.end(), entry.after.begin(), entry.after.end());
    FileStream* archive = StreamOf(stream);
    FileStream* output = entry.output ? entry.output : entry.write ? StreamOf(Bytes()) : nullptr;

    ctx->ArchiveFile = archive;
    ctx->InputFile = archive;
    ctx->OutputFile = output;
    ctx->PackedLeft = static_cast<int32_t>(entry.packedSize >= 0 ? static_cast<uint32_t>(entry.packedSize)
                                                                 : static_cast<uint32_t>(entry.packed.size()));
    ctx->UnpackedLeft = static_cast<int32_t>(entry.unpackedSize);
    ctx->SkipMode = entry.skip ? 1 : 0;
    ctx->ArchiveFormat = entry.format;
    ctx->DataChecksum = InitialDataChecksum(entry.format);
    (decode ? decode : DecompressFile)(ctx, entry.solid ? kFileFlagSolid : 0);

    Result result;
    result.checksum = ctx->DataChecksum;
    result.streamPos = TellFile(archive);
    if (output && !entry.output) {
        result.output = ReadAll(output);
        CloseStream(output);
    }
    CloseStream(archive);
    ctx->ArchiveFile = ctx->InputFile = ctx->OutputFile = nullptr;
    return result;
}

}  // namespace qvtest
