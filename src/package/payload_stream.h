// The LZMA SDK's seekable input stream over a window of an open file: the
// payload where it lies in the installer's own image, read through a handle
// the installer keeps for the whole run.
#pragma once

#include "7zTypes.h"
#include "package/payload_source.h"

#include <windows.h>

#include <cstdint>
#include <vector>

// The SDK's Seek on a stream of size bytes whose position is *position:
// *offset from origin, and the new position in both. An unknown origin or a
// place before the start is SZ_ERROR_PARAM and moves nothing; a place past
// the end is taken, and reads there give no bytes.
SRes SeekWithin(uint64_t* position, uint64_t size, Int64* offset, ESzSeek origin);

// Reads [offset, offset + size) of file with explicit offsets, never through
// the handle's own file pointer: any number of streams, on any threads, can
// share one handle, each with its own position. The handle is not owned and
// must outlive the stream.
class PayloadStream {
public:
    PayloadStream(HANDLE file, uint64_t offset, uint64_t size);
    PayloadStream(const PayloadStream&) = delete;
    PayloadStream& operator=(const PayloadStream&) = delete;

    // What the SDK's readers take; it points into this object.
    const ISeekInStream* Stream() const { return &vt_; }
    uint64_t Size() const { return size_; }

private:
    static SRes Read(ISeekInStreamPtr stream, void* buffer, size_t* size);
    static SRes Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin);

    ISeekInStream vt_;
    HANDLE file_;
    uint64_t offset_;
    uint64_t size_;
    uint64_t position_ = 0;
};

// The LZMA SDK's seekable stream over the archive a source presents, read
// with explicit offsets only, so that any number of streams on any threads
// share the source's handles. Every byte from a data file comes from a
// whole piece read and matched with its SHA-256 in the table first; a piece
// that differs or is short fails the read (ERROR_CRC in the thread's last
// error), so nothing is ever decoded from bytes the table does not vouch
// for. Holds one piece in memory. The source must outlive the stream.
class PayloadSourceStream {
public:
    explicit PayloadSourceStream(const PayloadSource& source);
    PayloadSourceStream(const PayloadSourceStream&) = delete;
    PayloadSourceStream& operator=(const PayloadSourceStream&) = delete;

    const ISeekInStream* Stream() const { return &vt_.vt; }

private:
    static SRes Read(ISeekInStreamPtr stream, void* buffer, size_t* size);
    static SRes Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin);
    // Up to want bytes at the archive's position from the data files.
    SRes ReadPacked(uint64_t at, Byte* buffer, size_t want, size_t* got);
    bool LoadPiece(size_t fileIndex, uint64_t pieceInFile);

    // What the SDK is given, and the way back from it to this stream.
    struct Vtable {
        ISeekInStream vt;
        PayloadSourceStream* self;
    };
    Vtable vt_;
    const PayloadSource& source_;
    uint64_t position_ = 0;
    std::vector<Byte> piece_;
    size_t pieceLength_ = 0;
    size_t pieceIndex_ = SIZE_MAX;  // in source_.pieces; SIZE_MAX: none held
};
