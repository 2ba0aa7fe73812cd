// The LZMA SDK's seekable input stream over a window of an open file: the
// payload where it lies in the installer's own image, read through a handle
// the installer keeps for the whole run.
#pragma once

#include "7zTypes.h"

#include <windows.h>

#include <cstdint>

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
