// The block pipeline with small limits over five blocks, read through a
// reader that notes the block of every read, reads 64 KiB at most so that
// each block takes several, and can hold the first read of block 0; and the
// pipeline leaving out the blocks that no entry taken needs.
#include "package/block_pipeline.h"
#include "package/payload_stream.h"
#include "support/test_support.h"

#include "7zCrc.h"
#include "Alloc.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace {

bool PollUntil(const std::function<bool()>& condition)
{
    for (const ULONGLONG deadline = ::GetTickCount64() + 20000; !condition(); ::Sleep(1)) {
        if (::GetTickCount64() > deadline)
            return false;
    }
    return true;
}

struct Reads {
    std::vector<UInt64> ends;     // where each block's packed bytes end
    std::atomic<int> taking{0};   // the block the test takes, or is about to
    int limit = 0;
    std::atomic<int> beyondLimit{0}, afterStop{0};
    std::atomic<bool> stopSeen{false}, holding{false};
    std::atomic<const volatile LONG*> stop{nullptr};
    std::atomic<UInt64> furthest{0};
    std::atomic<unsigned> blocksRead{0};  // one bit a block
    std::function<bool()> release;  // when block 0's first read goes on

    void Before(UInt64 at)
    {
        afterStop += stopSeen;
        const int block = static_cast<int>(std::upper_bound(ends.begin(), ends.end(), at) - ends.begin());
        beyondLimit += block < static_cast<int>(ends.size()) && block >= taking + limit;
        blocksRead |= 1u << std::min(block, 31);
        if (block == 0 && release && !holding.exchange(true))
            PollUntil(release);
    }
};

class CountingReader : public ArchiveReader {
public:
    CountingReader(HANDLE file, UInt64 size, const volatile LONG* stop, Reads& reads)
        : ArchiveReader(stop), window_(file, 0, size), reads_(reads)
    {
        SetSource(&source_.vt);
    }

private:
    static SRes Read(ISeekInStreamPtr stream, void* buffer, size_t* size)
    {
        CountingReader& self = *reinterpret_cast<const Source*>(stream)->self;
        *size = std::min<size_t>(*size, 64 << 10);
        self.reads_.Before(self.position_);
        const SRes result = self.window_.Stream()->Read(self.window_.Stream(), buffer, size);
        self.position_ += *size;
        for (UInt64 seen = self.reads_.furthest; seen < self.position_;)
            self.reads_.furthest.compare_exchange_weak(seen, self.position_);
        return result;
    }
    static SRes Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin)
    {
        CountingReader& self = *reinterpret_cast<const Source*>(stream)->self;
        const SRes result = self.window_.Stream()->Seek(self.window_.Stream(), position, origin);
        self.position_ = static_cast<UInt64>(*position);
        return result;
    }

    struct Source {
        ISeekInStream vt;
        CountingReader* self;
    } source_{{Read, Seek}, this};
    PayloadStream window_;
    Reads& reads_;
    UInt64 position_ = 0;
};

TEST(BlockPipelineTest, KeepsToItsLimitAndReadsNothingOnceStopped)
{
    const UniqueFile file(::CreateFileW(testing_support::FixturePath(L"package\\five_blocks.7z").c_str(),
                                        GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    ASSERT_TRUE(::GetFileSizeEx(file.get(), &size));
    CrcGenerateTable();
    CSzArEx db;
    SzArEx_Init(&db);
    const ScopeExit freeDb([&db] { SzArEx_Free(&db, &g_Alloc); });
    Reads opening;
    ASSERT_EQ(SzArEx_Open(&db, std::make_unique<CountingReader>(file.get(), size.QuadPart, nullptr, opening)->Stream(),
                          &g_Alloc, &g_Alloc),
              SZ_OK);
    ASSERT_EQ(db.db.NumFolders, 5u);
    Reads reads;
    for (UInt32 f = 1; f <= db.db.NumFolders; ++f)
        reads.ends.push_back(db.dataPos + db.db.PackPositions[db.db.FoStartPackStreamIndex[f]]);
    const auto newReader = [&](const volatile LONG* stop) {
        reads.stop = stop ? stop : reads.stop.load();
        return std::make_unique<CountingReader>(file.get(), size.QuadPart, stop, reads);
    };

    // Three threads, two blocks in memory. Block 0 waits until block 1 was
    // read whole, so that a third block begun would be seen before block 0
    // is taken.
    reads.limit = 2;
    reads.release = [&reads] { return reads.furthest >= reads.ends[1]; };
    {
        BlockPipeline pipeline(db, newReader, {3, 2, 64u << 20});
        for (UInt32 folder = 0; folder < db.db.NumFolders; ++folder) {
            reads.taking = static_cast<int>(folder);
            Byte* data = nullptr;
            size_t unpacked = 0;
            ASSERT_EQ(pipeline.Take(folder, &data, &unpacked), SZ_OK);
            EXPECT_EQ(unpacked, SzAr_GetFolderUnpackSize(&db.db, folder));
        }
    }
    EXPECT_EQ(reads.beyondLimit, 0);

    // Blocks 1 and 3 hold only entries nobody takes: they are never read.
    std::vector<bool> unused(db.NumFiles, false);
    for (UInt32 i = 0; i < db.NumFiles; ++i)
        unused[i] = db.FileToFolder[i] == 1 || db.FileToFolder[i] == 3;
    reads.release = nullptr;
    reads.limit = 5;
    reads.blocksRead = 0;
    {
        BlockPipeline pipeline(db, newReader, {2, 2, 64u << 20}, &unused);
        for (const UInt32 folder : {0u, 2u, 4u}) {
            Byte* data = nullptr;
            size_t unpacked = 0;
            ASSERT_EQ(pipeline.Take(folder, &data, &unpacked), SZ_OK);
            EXPECT_EQ(unpacked, SzAr_GetFolderUnpackSize(&db.db, folder));
        }
    }
    EXPECT_EQ(reads.blocksRead, 0b10101u);

    // Stopped while the decoding thread is inside its first read of block 0.
    reads.holding = false;
    reads.furthest = 0;
    reads.release = [&reads] { return reads.stopSeen.load(); };
    auto pipeline = std::make_unique<BlockPipeline>(db, newReader, BlockPipelineLimits{1, 5, 64u << 20});
    ASSERT_TRUE(PollUntil([&reads] { return reads.holding.load(); }));
    std::thread ending([&pipeline] { pipeline.reset(); });
    EXPECT_TRUE(PollUntil([&reads] { return *reads.stop.load() != 0; }));
    reads.stopSeen = true;
    ending.join();
    EXPECT_EQ(reads.afterStop, 0);
    EXPECT_LT(reads.furthest, reads.ends[0]);
}

}  // namespace
