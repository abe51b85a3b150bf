#include "support/unpack_harness.h"

#include <stdlib.h>

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

FILE* StreamOf(const Bytes& data) {
    FILE* stream = tmpfile();
    if (!stream) abort();
    if (!data.empty()) fwrite(data.data(), 1, data.size(), stream);
    fflush(stream);
    fseek(stream, 0, SEEK_SET);
    return stream;
}

Bytes ReadAll(FILE* stream) {
    Bytes data;
    fflush(stream);
    fseek(stream, 0, SEEK_SET);
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, stream)) > 0) data.insert(data.end(), chunk, chunk + got);
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
    FILE* archive = StreamOf(stream);
    FILE* output = entry.output ? entry.output : entry.write ? tmpfile() : nullptr;

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
    result.streamPos = ftell(archive);
    if (output && !entry.output) {
        result.output = ReadAll(output);
        fclose(output);
    }
    fclose(archive);
    ctx->ArchiveFile = ctx->InputFile = ctx->OutputFile = nullptr;
    return result;
}

}  // namespace qvtest
