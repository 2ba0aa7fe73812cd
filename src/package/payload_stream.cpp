#include "package/payload_stream.h"

#include <algorithm>
#include <cstddef>

PayloadStream::PayloadStream(HANDLE file, uint64_t offset, uint64_t size)
    : vt_{Read, Seek}, file_(file), offset_(offset), size_(size)
{
}

SRes PayloadStream::Read(ISeekInStreamPtr stream, void* buffer, size_t* size)
{
    auto* self = reinterpret_cast<PayloadStream*>(
        reinterpret_cast<char*>(const_cast<ISeekInStream*>(stream)) - offsetof(PayloadStream, vt_));
    const uint64_t left = self->position_ < self->size_ ? self->size_ - self->position_ : 0;
    // A short read is allowed; 0 bytes is the end of the window.
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>({*size, left, 1u << 30}));
    *size = 0;
    if (want == 0)
        return SZ_OK;
    const uint64_t at = self->offset_ + self->position_;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    if (!::ReadFile(self->file_, buffer, want, &read, &where) && ::GetLastError() != ERROR_HANDLE_EOF)
        return SZ_ERROR_READ;
    self->position_ += read;
    *size = read;
    return SZ_OK;
}

SRes SeekWithin(uint64_t* position, uint64_t size, Int64* offset, ESzSeek origin)
{
    Int64 base = 0;
    switch (origin) {
    case SZ_SEEK_SET:
        base = 0;
        break;
    case SZ_SEEK_CUR:
        base = static_cast<Int64>(*position);
        break;
    case SZ_SEEK_END:
        base = static_cast<Int64>(size);
        break;
    default:
        return SZ_ERROR_PARAM;
    }
    const Int64 target = base + *offset;
    if (target < 0)
        return SZ_ERROR_PARAM;
    *position = static_cast<uint64_t>(target);
    *offset = target;
    return SZ_OK;
}

SRes PayloadStream::Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin)
{
    auto* self = reinterpret_cast<PayloadStream*>(
        reinterpret_cast<char*>(const_cast<ISeekInStream*>(stream)) - offsetof(PayloadStream, vt_));
    return SeekWithin(&self->position_, self->size_, position, origin);
}
