#include "package/block_pipeline.h"

#include "package/sdk.h"

#include <process.h>

#include <cstdlib>

ArchiveReader::ArchiveReader(const volatile LONG* stop)
{
    stopping_.vt.Read = Read;
    stopping_.vt.Seek = Seek;
    stopping_.stop = stop;
    LookToRead2_CreateVTable(&look_, False);
    look_.buf = lookAhead_;
    look_.bufSize = kLookAheadSize;
    look_.realStream = &stopping_.vt;
    LookToRead2_INIT(&look_);
}

SRes ArchiveReader::Read(ISeekInStreamPtr stream, void* buffer, size_t* size)
{
    const auto* self = reinterpret_cast<const StoppingStream*>(stream);
    if (self->stop && *self->stop) {
        *size = 0;
        return SZ_ERROR_PROGRESS;
    }
    return self->source->Read(self->source, buffer, size);
}

SRes ArchiveReader::Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin)
{
    const auto* self = reinterpret_cast<const StoppingStream*>(stream);
    return self->source->Seek(self->source, position, origin);
}

BlockPipeline::BlockPipeline(const CSzArEx& db, ArchiveReaderFactory newReader, BlockPipelineLimits limits,
                             const std::vector<bool>* unused)
    : db_(db), newReader_(std::move(newReader)), limits_(limits)
{
    if (limits_.blocks == 0)
        limits_.blocks = 1;
    // The blocks in the order the entries use them: each block's first entry
    // with data, in archive order. A block's entries with data stand together
    // in that order, so a block is known unneeded once the next one begins.
    const auto isUnused = [unused](UInt32 i) { return i < unused->size() && (*unused)[i]; };
    UInt32 last = kNoBlock;
    bool lastNeeded = false;
    for (UInt32 i = 0; i < db_.NumFiles; ++i) {
        const UInt32 folder = db_.FileToFolder[i];
        if (folder == kNoBlock)
            continue;
        if (folder != last) {
            if (last != kNoBlock && !lastNeeded)
                blocks_.pop_back();
            last = folder;
            lastNeeded = false;
            Block block;
            block.folder = folder;
            block.firstFile = i;
            block.size = static_cast<size_t>(SzAr_GetFolderUnpackSize(&db_.db, folder));
            blocks_.push_back(block);
        }
        // Without marks every block is handed out as the entries ask for it.
        // An empty file may stand between a block's entries and belongs to
        // it, but needs none of its bytes.
        lastNeeded = lastNeeded || !unused || (!isUnused(i) && SzArEx_GetFileSize(&db_, i) != 0);
    }
    if (last != kNoBlock && !lastNeeded)
        blocks_.pop_back();
    // One decoding thread per block at most; with fewer than two blocks
    // nothing could overlap.
    unsigned decoders = limits_.decoders;
    if (blocks_.size() < 2)
        decoders = 0;
    if (decoders > blocks_.size())
        decoders = static_cast<unsigned>(blocks_.size());
    for (unsigned t = 0; t < decoders; ++t) {
        const uintptr_t thread = ::_beginthreadex(nullptr, 0, DecoderThread, this, 0, nullptr);
        // Without a thread the blocks are decoded on the caller's thread.
        if (!thread)
            break;
        threads_.emplace_back(reinterpret_cast<HANDLE>(thread));
    }
}

BlockPipeline::~BlockPipeline()
{
    StopThreads();
    for (auto& block : blocks_)
        std::free(block.data);
}

void BlockPipeline::StopThreads()
{
    {
        std::unique_lock<std::mutex> hold(lock_);
        ::InterlockedExchange(&stop_, 1);
    }
    changed_.notify_all();
    for (auto& thread : threads_)
        ::WaitForSingleObject(thread.get(), INFINITE);
    threads_.clear();
}

unsigned __stdcall BlockPipeline::DecoderThread(void* pipeline)
{
    try {
        static_cast<BlockPipeline*>(pipeline)->DecodeBlocks();
    } catch (...) {
        // Nothing may unwind out of the thread; the blocks it left waiting
        // are decoded by the taker.
    }
    return 0;
}

bool BlockPipeline::MayBeginNext() const
{
    if (nextToDecode_ >= blocks_.size() || held_ >= limits_.blocks)
        return false;
    return held_ == 0 || heldBytes_ + blocks_[nextToDecode_].size <= limits_.bytes;
}

void BlockPipeline::DecodeBlocks()
{
    std::unique_ptr<ArchiveReader> reader = newReader_(&stop_);
    if (!reader)
        return;
    while (true) {
        size_t position = 0;
        {
            std::unique_lock<std::mutex> hold(lock_);
            while (!stop_ && !MayBeginNext()) {
                if (nextToDecode_ >= blocks_.size())
                    return;
                changed_.wait(hold);
            }
            if (stop_)
                return;
            position = nextToDecode_++;
            blocks_[position].state = State::kDecoding;
            ++held_;
            heldBytes_ += blocks_[position].size;
        }
        DecodeBlock(position, *reader);
        changed_.notify_all();
    }
}

void BlockPipeline::DecodeBlock(size_t position, ArchiveReader& reader)
{
    // The SDK's own extraction with a one-block cache of this thread's, empty
    // on entry: it decodes the whole block and checks its first entry.
    const UInt32 firstFile = blocks_[position].firstFile;
    UInt32 cachedBlock = kNoBlock;
    Byte* data = nullptr;
    size_t size = 0, offset = 0, entrySize = 0;  // size: the block's, as decoded
    const SRes result = SzArEx_Extract(&db_, reader.Stream(), firstFile, &cachedBlock, &data, &size, &offset,
                                       &entrySize, &kHeap, &kHeap);
    if (result != SZ_OK) {
        std::free(data);
        data = nullptr;
    }
    std::unique_lock<std::mutex> hold(lock_);
    Block& block = blocks_[position];
    block.result = result;
    block.data = data;
    block.state = State::kReady;
}

void BlockPipeline::Release(size_t position)
{
    Block& block = blocks_[position];
    std::free(block.data);
    block.data = nullptr;
    if (block.state != State::kWaiting) {
        --held_;
        heldBytes_ -= block.size;
    }
    block.state = State::kReleased;
}

bool BlockPipeline::Holds(UInt32 folder) const
{
    for (const Block& block : blocks_) {
        if (block.folder == folder)
            return true;
    }
    return false;
}

SRes BlockPipeline::Take(UInt32 folder, Byte** data, size_t* size)
{
    *data = nullptr;
    *size = 0;
    size_t position = SIZE_MAX;
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (taken_ != SIZE_MAX) {
            Release(taken_);
            taken_ = SIZE_MAX;
        }
        // Blocks before the one asked for are not needed any more.
        while (nextToTake_ < blocks_.size() && blocks_[nextToTake_].folder != folder) {
            if (blocks_[nextToTake_].state != State::kDecoding) {
                if (nextToDecode_ <= nextToTake_)
                    nextToDecode_ = nextToTake_ + 1;
                Release(nextToTake_);
                ++nextToTake_;
                continue;
            }
            changed_.wait(hold);
        }
        if (nextToTake_ >= blocks_.size())
            return SZ_ERROR_FAIL;
        position = nextToTake_++;
        Block& block = blocks_[position];
        // Decoded here when no thread has begun it (there are none, or they
        // could not open the archive); decoding threads go on past it.
        if (block.state == State::kWaiting && nextToDecode_ <= position) {
            nextToDecode_ = position + 1;
            block.state = State::kDecoding;
            ++held_;
            heldBytes_ += block.size;
        } else {
            while (block.state != State::kReady)
                changed_.wait(hold);
            taken_ = position;
            *data = block.data;
            *size = block.size;
            changed_.notify_all();
            return block.result;
        }
    }
    if (!ownReader_)
        ownReader_ = newReader_(nullptr);
    if (!ownReader_) {
        std::unique_lock<std::mutex> hold(lock_);
        blocks_[position].state = State::kReady;
        blocks_[position].result = SZ_ERROR_READ;
        taken_ = position;
        return SZ_ERROR_READ;
    }
    DecodeBlock(position, *ownReader_);
    changed_.notify_all();
    std::unique_lock<std::mutex> hold(lock_);
    taken_ = position;
    *data = blocks_[position].data;
    *size = blocks_[position].size;
    return blocks_[position].result;
}
