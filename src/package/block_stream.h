// One solid block decoded a bounded piece at a time, straight from the
// archive, for blocks too large to hold in memory whole. Internal to the
// package.
#pragma once

#include "7z.h"
#include "7zTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Blocks of more unpacked bytes than this are streamed when their coder
// allows it: well under the run's memory bound, and above the 16 MiB blocks
// make-installer packs most files in, which the pipeline decodes ahead.
constexpr uint64_t kStreamedBlockThreshold = 32ull << 20;

class BlockStream {
public:
    // Whether the block whose index in the database is folder can be decoded
    // in pieces: one coder (LZMA2, LZMA or Copy) on one packed stream.
    static bool Streamable(const CSzAr& db, UInt32 folder);
    // Whether Decode streams the block instead of holding it whole.
    static bool Streams(const CSzAr& db, UInt32 folder)
    {
        return SzAr_GetFolderUnpackSize(&db, folder) > kStreamedBlockThreshold && Streamable(db, folder);
    }

    // The block of db at folder (Streamable), read through stream, which
    // stays the block's alone until it is finished.
    BlockStream(const CSzArEx& db, UInt32 folder, ILookInStreamPtr stream);
    ~BlockStream();
    BlockStream(const BlockStream&) = delete;
    BlockStream& operator=(const BlockStream&) = delete;

    // Seeks to the block's packed bytes and makes its decoder.
    SRes Begin();
    // The block's next bytes, up to *size of them into dest; *size is what
    // was given. SZ_ERROR_DATA when the packed bytes end or break before
    // the block's unpacked size.
    SRes Read(Byte* dest, size_t* size);
    // Once every unpacked byte is read: the packed bytes must end there and
    // the coder's stream too (no more data past the block's unpacked size),
    // and the block's own CRC-32, when it has one, must match.
    SRes Finish();

    uint64_t Remaining() const { return unpackLeft_; }

private:
    const CSzArEx& db_;
    UInt32 folder_;
    ILookInStreamPtr stream_;
    UInt32 method_ = 0;
    const Byte* props_ = nullptr;
    unsigned propsSize_ = 0;
    uint64_t packLeft_ = 0;
    uint64_t unpackLeft_ = 0;
    UInt32 crc_ = 0;
    int status_ = 0;  // the coder's last ELzmaStatus
    struct Decoders;
    std::unique_ptr<Decoders> decoders_;
};
