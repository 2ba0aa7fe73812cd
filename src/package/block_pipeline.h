// Decodes an archive's solid blocks ahead of the entry being written, on
// threads of its own, so that decoding one block and writing the files of
// the block before overlap. Internal to the package.
#pragma once

#include "system/unique_handle.h"

#include "7z.h"

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A reader of the archive with a file position of its own: every thread that
// decodes holds one, so no two threads move one position. Reads fail once
// the stop it was given is set, which ends a block's decoding early.
class ArchiveReader {
public:
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;
    virtual ~ArchiveReader() = default;

    ILookInStreamPtr Stream() const { return &look_.vt; }

protected:
    explicit ArchiveReader(const volatile LONG* stop);
    // The archive's bytes, seekable; the derived reader owns them and sets
    // them in its constructor, before any read.
    void SetSource(ISeekInStreamPtr source) { stopping_.source = source; }

private:
    struct StoppingStream {
        ISeekInStream vt;
        ISeekInStreamPtr source;
        const volatile LONG* stop;
    };
    static SRes Read(ISeekInStreamPtr stream, void* buffer, size_t* size);
    static SRes Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin);

    // Each read of the archive is a system call, and under Wine more: the
    // decoder asks for 256 KiB at a time, and a look-ahead that holds it
    // took decoding of a 200 MB payload from 7 s to 4 s of thread time
    // against 16 KiB.
    static constexpr size_t kLookAheadSize = 1 << 20;
    StoppingStream stopping_{};
    CLookToRead2 look_{};
    Byte lookAhead_[kLookAheadSize];
};

// Makes a new reader over the archive, or null when it cannot be opened. Its
// argument is the stop that the reader's reads obey (null: never stops).
using ArchiveReaderFactory = std::function<std::unique_ptr<ArchiveReader>(const volatile LONG* stop)>;

// How much decoding may run ahead of the writing.
struct BlockPipelineLimits {
    // Threads decoding blocks; 0 decodes each block on the caller's thread
    // when it is taken.
    unsigned decoders = 1;
    // Blocks in memory at once: the one being written, those decoded and
    // those being decoded. At least 1.
    unsigned blocks = 2;
    // Bytes of decoded blocks in memory at once. A block larger than this is
    // still decoded, alone, once every other block has been released.
    size_t bytes = 96u << 20;
};

// Hands out an archive's blocks, decoded, in the order the archive's entries
// use them. The database is shared read-only with the decoding threads and
// must outlive the pipeline. No thread of it outlives its destructor.
class BlockPipeline {
public:
    // unused marks entries (by index) whose data nobody will take: a block
    // whose entries with data are all marked is never read, and cannot be
    // taken. Entries without data never need their block. Null marks none.
    BlockPipeline(const CSzArEx& db, ArchiveReaderFactory newReader, BlockPipelineLimits limits,
                  const std::vector<bool>* unused = nullptr);
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // Waits for the block whose index in the database is folder and hands out
    // its decoded bytes, which stay valid until the next Take or the end of
    // the pipeline; the block handed out before is released. Blocks are taken
    // in archive order; blocks skipped over are released unread. SZ_OK, or
    // what decoding the block returned.
    SRes Take(UInt32 folder, Byte** data, size_t* size);

    // Whether the block whose index in the database is folder is among those
    // handed out: false for a block that only unused entries need.
    bool Holds(UInt32 folder) const;

private:
    enum class State { kWaiting, kDecoding, kReady, kReleased };
    struct Block {
        UInt32 folder = 0;
        UInt32 firstFile = 0;
        size_t size = 0;
        State state = State::kWaiting;
        SRes result = SZ_OK;
        Byte* data = nullptr;
    };

    static unsigned __stdcall DecoderThread(void* pipeline);
    void DecodeBlocks();
    // Decodes the block at position into its buffer with reader.
    void DecodeBlock(size_t position, ArchiveReader& reader);
    bool MayBeginNext() const;  // under lock_
    void Release(size_t position);  // under lock_
    void StopThreads();

    const CSzArEx& db_;
    ArchiveReaderFactory newReader_;
    BlockPipelineLimits limits_;
    std::vector<Block> blocks_;
    std::mutex lock_;
    std::condition_variable changed_;
    size_t nextToDecode_ = 0;
    size_t nextToTake_ = 0;
    size_t taken_ = SIZE_MAX;
    unsigned held_ = 0;
    size_t heldBytes_ = 0;
    volatile LONG stop_ = 0;
    std::vector<UniqueHandle> threads_;
    std::unique_ptr<ArchiveReader> ownReader_;  // with no decoding threads
};
