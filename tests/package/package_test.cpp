// CSPPackage against archives that 7zz made at test time.
#include "package/package.h"
#include "package/payload_digest.h"
#include "package/payload_stream.h"
#include "system/unique_handle.h"
#include "support/test_support.h"

#include <tlhelp32.h>

extern "C" {
#include "Sha256.h"
}

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

// What the callbacks saw, in order.
struct Recorder {
    std::vector<ExtractProgress> progress;
    std::vector<std::string> logs;  // GBK texts as passed
    std::wstring target;            // to look at the disk from inside a callback
    std::vector<bool> existedAtReport;
    int stopAtIndex = -1;
    int threadsAtStop = 0;
    int gateCalls = 0;
    CSPPackage* package = nullptr;
};

// Threads of this process now, to show that none outlives a Decode.
int CountThreads()
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snapshot);
    return count;
}

void RecordProgress(void* context, ExtractProgress progress)
{
    auto* r = static_cast<Recorder*>(context);
    r->progress.push_back(progress);
    std::wstring name = progress.name;
    for (auto& c : name) {
        if (c == L'/')
            c = L'\\';
    }
    r->existedAtReport.push_back(Exists(r->target + L"\\" + name));
    if (static_cast<int>(progress.index) == r->stopAtIndex) {
        r->threadsAtStop = CountThreads();
        r->package->RunFlag().store(0);
    }
}

void RecordLog(void* context, const char* text) { static_cast<Recorder*>(context)->logs.push_back(text); }

void CountGate(void* context) { ++static_cast<Recorder*>(context)->gateCalls; }

std::string Gbk(const wchar_t* text)
{
    char bytes[512] = {};
    ::WideCharToMultiByte(936, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
    return bytes;
}

class PackageTest : public ::testing::Test {
protected:
    bool Decode(const std::wstring& archive, const std::wstring& target)
    {
        recorder.target = target;
        recorder.package = &package;
        package.SetCallbacks(&recorder, RecordProgress, RecordLog);
        package.SetGate(CountGate);
        return package.Decode(FixturePath(L"package\\" + archive).c_str(), target.c_str(), &current);
    }

    ScratchDir scratch;
    CSPPackage package;
    Recorder recorder;
    int32_t current = -7;
};

class CoderTest : public PackageTest, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(CoderTest, WritesTheTreeItWasMadeFromAndReportsEveryEntry)
{
    ASSERT_TRUE(Decode(GetParam(), scratch.path()));
    EXPECT_EQ(ReadTree(FixturePath(L"package\\basic")), ReadTree(scratch.path()));

    // basic holds 6 files and 5 folders (a, a/b, emptydir, docs and none other).
    const auto& reports = recorder.progress;
    ASSERT_FALSE(reports.empty());
    const uint32_t total = reports[0].total;
    ASSERT_EQ(reports.size(), total);
    for (uint32_t i = 0; i < total; ++i) {
        EXPECT_EQ(reports[i].index, i);
        EXPECT_EQ(reports[i].total, total);
        EXPECT_FALSE(recorder.existedAtReport[i])
            << "reported after it was written: " << testing::PrintToString(std::wstring(reports[i].name));
        const size_t length = wcsnlen(reports[i].name, std::size(reports[i].name));
        ASSERT_LT(length, std::size(reports[i].name));
        for (size_t c = length; c < std::size(reports[i].name); ++c)
            ASSERT_EQ(reports[i].name[c], L'\0');
    }
    EXPECT_EQ(current, static_cast<int32_t>(total - 1));
    EXPECT_EQ(recorder.gateCalls, static_cast<int>(total));

    // Folder entries are reported too, with "/" between levels.
    bool sawNestedFolder = false, sawNestedFile = false;
    for (const auto& r : reports) {
        sawNestedFolder |= std::wstring(r.name) == L"a/b";
        sawNestedFile |= std::wstring(r.name) == L"a/b/c.txt";
    }
    EXPECT_TRUE(sawNestedFolder);
    EXPECT_TRUE(sawNestedFile);

    ASSERT_GE(recorder.logs.size(), 2u);
    EXPECT_EQ(recorder.logs.front(), Gbk((L"包内文件数目：" + std::to_wstring(total) + L"\n").c_str()));
    EXPECT_EQ(recorder.logs.back(), Gbk(L"解压成功!\n"));
}

INSTANTIATE_TEST_SUITE_P(Coders, CoderTest,
                         ::testing::Values(L"lzma.7z", L"lzma2.7z", L"bcj_lzma2.7z", L"bcj2.7z", L"copy.7z",
                                           L"nonsolid.7z", L"blocks.7z", L"lzma_blocks.7z", L"bcj_blocks.7z",
                                           L"bcj2_blocks.7z", L"copy_blocks.7z"),
                         [](const auto& info) {
                             std::string name = WideToUtf8(info.param);
                             return name.substr(0, name.find('.'));
                         });

TEST_F(PackageTest, EmptyArchiveSucceedsWithoutReports)
{
    ASSERT_TRUE(Decode(L"empty.7z", scratch.path()));
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_EQ(current, -7);
    EXPECT_TRUE(ReadTree(scratch.path()).empty());
    EXPECT_EQ(recorder.logs, (std::vector<std::string>{Gbk(L"包内文件数目：0\n"), Gbk(L"解压成功!\n")}));
}

TEST_F(PackageTest, ReadOnlyEntryStaysReadOnlyAndBlocksASecondDecode)
{
    ASSERT_TRUE(Decode(L"readonly.7z", scratch.path()));
    const std::wstring locked = scratch.Join(L"locked.txt");
    EXPECT_EQ(ReadBytes(locked), "keep me\r\n");
    EXPECT_TRUE(::GetFileAttributesW(locked.c_str()) & FILE_ATTRIBUTE_READONLY);

    // Files are only ever made new: what is already there (read-only or
    // not, a link or not) is never opened, and the entry fails.
    recorder.logs.clear();
    EXPECT_FALSE(Decode(L"readonly.7z", scratch.path()));
    EXPECT_EQ(recorder.logs.back(), Gbk((L"OutFile_Open:" + locked + L"失败!\n").c_str()));
}

TEST_F(PackageTest, FileThatCannotBeCreatedFailsTheDecode)
{
    ASSERT_TRUE(Decode(L"readonly.7z", scratch.path()));
    const std::wstring locked = scratch.Join(L"locked.txt");
    ::SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Held open without write sharing, as a running program holds its files.
    HANDLE held = ::CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    recorder.logs.clear();
    EXPECT_FALSE(Decode(L"readonly.7z", scratch.path()));
    ::CloseHandle(held);
    ASSERT_FALSE(recorder.logs.empty());
    EXPECT_EQ(recorder.logs.back(), Gbk((L"OutFile_Open:" + locked + L"失败!\n").c_str()));
    EXPECT_EQ(ReadBytes(locked), "keep me\r\n");
}

TEST_F(PackageTest, NamesReachTheDiskExactlyAsStored)
{
    // The target itself lies under a folder whose name has no ANSI form on a
    // Western system, and one whose name GBK cannot hold.
    const std::wstring target = scratch.Join(L"Quenlo棋牌 ภาษา");
    ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_TRUE(Decode(L"names.7z", target));
    EXPECT_EQ(ReadTree(FixturePath(L"package\\names")), ReadTree(target));
    EXPECT_EQ(ReadBytes(target + L"\\ภาษาไทย.txt"), "thai\r\n");
    EXPECT_EQ(ReadBytes(target + L"\\牌\U0001F600.txt"), "emoji\r\n");

    // The names shown are whole on a system of any code page.
    std::vector<std::wstring> shown;
    for (const auto& r : recorder.progress)
        shown.push_back(r.name);
    for (const wchar_t* name : {L"棋牌/规则.txt", L"ภาษาไทย.txt", L"牌\U0001F600.txt"})
        EXPECT_NE(std::find(shown.begin(), shown.end(), name), shown.end()) << testing::PrintToString(std::wstring(name));
}

TEST_F(PackageTest, LargeFileIsWrittenWhole)
{
    ASSERT_TRUE(Decode(L"big.7z", scratch.path()));
    const std::string written = ReadBytes(scratch.Join(L"big.bin"));
    ASSERT_EQ(written.size(), 70u * 1024 * 1024);
    EXPECT_TRUE(written == ReadBytes(FixturePath(L"package\\big\\big.bin")));
}

// The folder given held is the one written into, through its hold: with
// another folder put at its path after it was held (as a program of the
// user's would put a link there), nothing goes to that path, and an entry
// that cannot be checked to lie in the held folder fails the run.
TEST_F(PackageTest, WritesOnlyThroughTheFolderItHolds)
{
    const std::wstring target = scratch.Join(L"target");
    const std::wstring moved = scratch.Join(L"moved");
    ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
    HeldFolder held;
    ASSERT_TRUE(OpenFolderNoFollow(target, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &held));
    ASSERT_TRUE(::MoveFileW(target.c_str(), moved.c_str()));
    ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
    const UniqueFile file(::CreateFileW(FixturePath(L"package\\readonly.7z").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    ASSERT_TRUE(::GetFileSizeEx(file.get(), &size));
    package.Decode(file.get(), 0, size.QuadPart, held, &current, nullptr);
    EXPECT_TRUE(ReadTree(target).empty());
}

TEST_F(PackageTest, StopBeforeTheFirstEntryCreatesNothing)
{
    package.RunFlag().store(0);
    EXPECT_FALSE(Decode(L"lzma2.7z", scratch.path()));
    EXPECT_EQ(current, -7);
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_TRUE(ReadTree(scratch.path()).empty());
}

TEST_F(PackageTest, StopDuringAnEntryFinishesItAndBeginsNoOther)
{
    // Folders and empty files come first; index 6 is a file with data. In
    // blocks.7z later blocks are being decoded while it is written. Wine
    // starts a thread of its own at the first file written, so threads are
    // counted from the second run on.
    for (const wchar_t* archive : {L"lzma2.7z", L"blocks.7z", L"blocks.7z"}) {
        SCOPED_TRACE(WideToUtf8(archive));
        const int threadsBefore = CountThreads();
        ScratchDir target;
        CSPPackage fresh;
        Recorder r;
        r.target = target.path();
        r.package = &fresh;
        r.stopAtIndex = 6;
        fresh.SetCallbacks(&r, RecordProgress, RecordLog);
        int32_t index = -7;
        const std::wstring path = FixturePath(L"package\\" + std::wstring(archive));
        EXPECT_FALSE(fresh.Decode(path.c_str(), r.target.c_str(), &index));
        if (archive != std::wstring(L"lzma2.7z")) {
            EXPECT_GT(r.threadsAtStop, threadsBefore) << "no block was being decoded ahead";
            EXPECT_EQ(CountThreads(), threadsBefore) << "a decoding thread outlived Decode";
        }
        EXPECT_EQ(index, 6);
        ASSERT_EQ(r.progress.size(), 7u);

        // Exactly the seven reported entries are on disk, the last one complete.
        const auto written = ReadTree(r.target);
        EXPECT_EQ(written.size(), 7u);
        for (const auto& report : r.progress) {
            std::wstring name = report.name;
            for (auto& c : name) {
                if (c == L'/')
                    c = L'\\';
            }
            ASSERT_TRUE(written.contains(name)) << testing::PrintToString(name);
            if (written.at(name) != "<dir>") {
                EXPECT_EQ(written.at(name), ReadBytes(FixturePath(L"package\\basic\\" + name)));
            }
        }
        EXPECT_NE(r.logs.back(), Gbk(L"解压成功!\n"));
    }
}

TEST_F(PackageTest, EntriesWithoutDataBetweenABlocksEntriesAreWrittenInPlace)
{
    const int threadsBefore = CountThreads();
    ASSERT_TRUE(Decode(L"interleaved.7z", scratch.path()));
    EXPECT_EQ(CountThreads(), threadsBefore);
    EXPECT_EQ(ReadTree(FixturePath(L"package\\interleaved")), ReadTree(scratch.path()));
    ASSERT_EQ(recorder.progress.size(), 9u);
    EXPECT_EQ(std::wstring(recorder.progress[4].name), L"emptydir");
    EXPECT_EQ(std::wstring(recorder.progress[5].name), L"c.bin");
}

TEST_F(PackageTest, ABlockThatCannotBeDecodedFailsTheRunAtItsFirstEntry)
{
    // Its second block is damaged: everything before that block's first
    // entry, c.bin, is written whole, c.bin and nothing after it.
    EXPECT_FALSE(Decode(L"interleaved_damaged.7z", scratch.path()));
    EXPECT_EQ(current, 5);
    EXPECT_EQ(recorder.progress.size(), 5u);
    EXPECT_EQ(recorder.logs.back(), Gbk(L"SzArEx_Extract:c.bin失败!\n"));
    auto expected = ReadTree(FixturePath(L"package\\interleaved"));
    for (const wchar_t* later : {L"c.bin", L"empty2.txt", L"d.txt", L"empty3.txt"})
        expected.erase(later);
    EXPECT_EQ(ReadTree(scratch.path()), expected);
}

// An upgrade over an installed folder that holds some files as packed: the
// check finds exactly those, and the unpacking writes exactly the others.
TEST_F(PackageTest, KeepsTheFilesAFolderHoldsAndWritesTheRest)
{
    const UniqueFile file(::CreateFileW(FixturePath(L"package\\inplace.7z").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    ASSERT_TRUE(::GetFileSizeEx(file.get(), &size));
    // The table an installer carries, here made from the archive; the one
    // entry it leaves out is never kept, whatever lies in its place.
    std::string table;
    ASSERT_TRUE(MakeEntryDigestTable(file.get(), 0, size.QuadPart, &table));
    const std::string untabled = "  keep/k2.bin\n";
    const size_t cut = table.find(untabled);
    ASSERT_NE(cut, std::string::npos);
    table.erase(cut - 64, 64 + untabled.size());
    std::vector<ArchiveEntry> entries;
    ASSERT_TRUE(ListEntries(file.get(), 0, size.QuadPart, table, &entries));
    const auto source = ReadTree(FixturePath(L"package\\inplace"));
    ASSERT_EQ(entries.size(), source.size());
    for (const ArchiveEntry& entry : entries) {
        ASSERT_TRUE(source.contains(entry.name)) << WideToUtf8(entry.name);
        const std::string& bytes = source.at(entry.name);
        EXPECT_EQ(entry.isFolder, bytes == "<dir>");
        EXPECT_EQ(entry.size, entry.isFolder ? 0 : bytes.size());
        EXPECT_EQ(entry.hasCrc, !entry.isFolder && !bytes.empty());
        EXPECT_EQ(entry.hasSha256, !entry.isFolder && entry.name != L"keep\\k2.bin") << WideToUtf8(entry.name);
    }

    // Held open for writing, as a running game holds its log (with sharing,
    // so that the same test under the other code page may run beside it).
    const std::wstring installed = FixturePath(L"package\\inplace_installed");
    const UniqueFile held(::CreateFileW((installed + L"\\held.bin").c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const std::vector<std::wstring> kept = {L"empty.txt", L"keep\\deep\\k3.bin", L"keep\\k1.bin",
                                            L"mixed\\m1.txt", L"zz\\last.txt"};
    std::atomic<int32_t> stop{1};
    for (const int32_t flag : {1, 0}) {
        stop.store(flag);
        const std::vector<bool> inPlace = FindEntriesInPlace(installed, entries, &stop);
        ASSERT_EQ(inPlace.size(), entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            const bool expected = flag && std::find(kept.begin(), kept.end(), entries[i].name) != kept.end();
            EXPECT_EQ(inPlace[i], expected) << WideToUtf8(entries[i].name) << " with the run flag " << flag;
        }
    }

    // What was found in place stays held: nobody opens it to write, or to
    // delete or rename it, until the holds are let go.
    stop.store(1);
    std::vector<UniqueFile> holds;
    const std::vector<bool> inPlace = FindEntriesInPlace(installed, entries, &stop, &holds);
    EXPECT_EQ(holds.size(), kept.size());
    for (const ACCESS_MASK access : {static_cast<ACCESS_MASK>(GENERIC_WRITE), static_cast<ACCESS_MASK>(DELETE)}) {
        const UniqueFile other(::CreateFileW((installed + L"\\keep\\k1.bin").c_str(), access,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(other) << "opened for " << std::hex << access << " while held";
    }
    holds.clear();
    recorder.target = scratch.path();
    recorder.package = &package;
    package.SetCallbacks(&recorder, RecordProgress, RecordLog);
    package.SetGate(CountGate);
    ASSERT_TRUE(package.Decode(file.get(), 0, size.QuadPart, scratch.path().c_str(), &current, &inPlace));
    auto expected = source;
    for (const auto& name : kept)
        expected.erase(name);
    EXPECT_EQ(TreeChanges(expected, ReadTree(scratch.path())), "");
    // Kept files advance the reports as written ones do.
    EXPECT_EQ(recorder.progress.size(), entries.size());
    EXPECT_EQ(recorder.gateCalls, static_cast<int>(entries.size()));
    EXPECT_EQ(current, static_cast<int32_t>(entries.size() - 1));
}

TEST_F(PackageTest, ABlockWhoseFilesAreAllKeptIsNeverDecoded)
{
    // The second block of this archive cannot be decoded; with its files,
    // c.bin and d.txt, kept, and b.txt of the first, the rest is written.
    std::vector<bool> inPlace(9, false);
    inPlace[3] = inPlace[5] = inPlace[7] = true;
    const UniqueFile file(::CreateFileW(FixturePath(L"package\\interleaved_damaged.7z").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    ASSERT_TRUE(::GetFileSizeEx(file.get(), &size));
    package.SetCallbacks(&recorder, nullptr, RecordLog);
    ASSERT_TRUE(package.Decode(file.get(), 0, size.QuadPart, scratch.path().c_str(), &current, &inPlace))
        << (recorder.logs.empty() ? "" : recorder.logs.back());
    auto expected = ReadTree(FixturePath(L"package\\interleaved"));
    for (const wchar_t* kept : {L"b.txt", L"c.bin", L"d.txt"})
        expected.erase(kept);
    EXPECT_EQ(TreeChanges(expected, ReadTree(scratch.path())), "");
}

// Blocks too large to hold are decoded as they are written, for each coder
// that can be: several entries of one, kept entries inside one, damaged
// bytes and a coder that gives more than the block holds.
TEST_F(PackageTest, BlocksTooLargeToHoldAreWrittenAsTheyAreDecoded)
{
    const std::vector<std::wstring> allMany = {L"a.bin", L"b.txt", L"sub\\c.bin", L"sub\\d.txt"};
    const struct {
        const wchar_t* archive;
        const wchar_t* tree;
        std::vector<std::wstring> kept;
        bool succeeds;
    } cases[] = {
        {L"streamed_lzma2.7z", L"streamed_one", {}, true},
        {L"streamed_lzma.7z", L"streamed_one", {}, true},
        {L"streamed_copy.7z", L"streamed_one", {}, true},
        {L"streamed_many.7z", L"streamed_many", {}, true},
        // Decoded and dropped up to the one entry needed.
        {L"streamed_many.7z", L"streamed_many", {L"a.bin", L"b.txt", L"sub\\c.bin"}, true},
        // Never read when nothing of it is needed: it is damaged.
        {L"streamed_many_damaged.7z", L"streamed_many", allMany, true},
        {L"streamed_many_damaged.7z", L"streamed_many", {}, false},
        {L"streamed_overlong.7z", nullptr, {}, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.archive) + " keeping " + std::to_string(c.kept.size()));
        const std::wstring target = scratch.path() + L"\\" + std::to_wstring(++n);
        ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
        const UniqueFile file(::CreateFileW(FixturePath(std::wstring(L"package\\") + c.archive).c_str(),
                                            GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        ASSERT_TRUE(::GetFileSizeEx(file.get(), &size));
        std::vector<ArchiveEntry> entries;
        ASSERT_TRUE(ListEntries(file.get(), 0, size.QuadPart, &entries));
        std::vector<bool> inPlace;
        uint64_t totalBytes = 0;
        for (const ArchiveEntry& entry : entries) {
            inPlace.push_back(std::find(c.kept.begin(), c.kept.end(), entry.name) != c.kept.end());
            totalBytes += entry.size;
        }
        Recorder seen;
        seen.target = target;
        seen.package = &package;
        package.SetCallbacks(&seen, RecordProgress, RecordLog);
        const bool decoded = package.Decode(file.get(), 0, size.QuadPart, target.c_str(), &current, &inPlace);
        ASSERT_EQ(decoded, c.succeeds) << (seen.logs.empty() ? "" : seen.logs.back());
        if (!c.succeeds)
            continue;
        auto expected = ReadTree(FixturePath(std::wstring(L"package\\") + c.tree));
        for (const auto& kept : c.kept)
            expected.erase(kept);
        EXPECT_EQ(TreeChanges(expected, ReadTree(target)), "");
        // The bytes move on within a big entry too, reported again as it is
        // written, up to the payload's whole.
        ASSERT_FALSE(seen.progress.empty());
        uint64_t before = 0;
        for (const ExtractProgress& p : seen.progress) {
            EXPECT_EQ(p.bytesTotal, totalBytes);
            EXPECT_GE(p.bytesDone, before);
            EXPECT_LE(p.bytesDone, totalBytes);
            before = p.bytesDone;
        }
        if (c.kept.empty()) {
            EXPECT_GT(seen.progress.size(), entries.size() + 2);
        }
    }
}

TEST_F(PackageTest, SetCallbacksRefusesANullContext)
{
    EXPECT_FALSE(package.SetCallbacks(nullptr, RecordProgress, RecordLog));
    // Nothing was stored: decoding reports nothing.
    EXPECT_TRUE(package.Decode(FixturePath(L"package\\empty.7z").c_str(), scratch.path().c_str(), &current));
    EXPECT_TRUE(recorder.logs.empty());
}

// The payload as the installer reads it: a window of a larger file that its
// handle is shared with, at explicit offsets.
TEST_F(PackageTest, ArchiveInAWindowOfASharedHandleUnpacksAsTheFileDoes)
{
    const std::wstring whole = scratch.Join(L"whole");
    ::CreateDirectoryW(whole.c_str(), nullptr);
    ASSERT_TRUE(Decode(L"lzma2.7z", whole));
    const std::string archive = ReadBytes(FixturePath(L"package\\lzma2.7z"));
    const std::string image = std::string(4099, 'M') + archive + std::string(77, 'Z');
    WriteBytes(scratch.Join(L"image.exe"), image);
    UniqueFile file(::CreateFileW(scratch.Join(L"image.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    for (const wchar_t* name : {L"first", L"second"}) {
        const std::wstring target = scratch.Join(name);
        ::CreateDirectoryW(target.c_str(), nullptr);
        CSPPackage reader;
        // Another reader moving the handle's own file pointer changes nothing.
        ::SetFilePointer(file.get(), 13, nullptr, FILE_BEGIN);
        ASSERT_TRUE(reader.Decode(file.get(), 4099, archive.size(), target.c_str(), &current)) << WideToUtf8(name);
        EXPECT_EQ(ReadTree(whole), ReadTree(target));
    }

    // An empty target folder would put the entries at the root of the drive.
    recorder.logs.clear();
    for (const wchar_t* target : {L"", static_cast<const wchar_t*>(nullptr)}) {
        current = -7;
        EXPECT_FALSE(package.Decode(file.get(), 4099, archive.size(), target, &current));
        EXPECT_EQ(current, -7);
    }
    EXPECT_EQ(recorder.logs, std::vector<std::string>(2, "CSPPackage::Decode - InitArEx() err!\n"));
}

// An archive split as make-installer splits it: its start header and
// database in the image, its packed streams in data files of two pieces
// each (the last short). The stream hands out only bytes of pieces that
// match the table, and not one byte of a piece that does not.
TEST_F(PackageTest, SplitArchiveIsReadOnlyThroughPiecesTheTableVouchesFor)
{
    constexpr size_t kPiece = 64 << 10, kPacked = 300000, kStart = 32;
    std::string archive(kStart + kPacked + 5000, '\0');
    // No two pieces alike.
    uint32_t state = 7;
    for (char& c : archive) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 23);
    }
    const std::string packed = archive.substr(kStart, kPacked);
    std::vector<std::string> files = {packed.substr(0, 2 * kPiece), packed.substr(2 * kPiece, 2 * kPiece),
                                      packed.substr(4 * kPiece)};
    std::string table = "pieces " + std::to_string(kPiece) + "\npacked " + std::to_string(kPacked) + "\n";
    std::string pieces;
    PrepareSha256();
    for (size_t n = 0; n < files.size(); ++n) {
        table += "file " + std::to_string(files[n].size()) + " d-" + std::to_string(n + 1) + ".bin\n";
        for (size_t at = 0; at < files[n].size(); at += kPiece) {
            const std::string piece = files[n].substr(at, kPiece);
            CSha256 sum;
            Sha256_Init(&sum);
            Sha256_Update(&sum, reinterpret_cast<const Byte*>(piece.data()), piece.size());
            Byte digest[SHA256_DIGEST_SIZE];
            Sha256_Final(&sum, digest);
            for (const Byte b : digest)
                pieces += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
            pieces += '\n';
        }
    }
    table += pieces;
    WriteBytes(scratch.Join(L"image.bin"), archive.substr(0, kStart) + archive.substr(kStart + kPacked));

    struct Case {
        const char* name;
        size_t file;        // the data file changed
        std::string bytes;  // its bytes then
        size_t firstBad;    // the archive's first byte not handed out
        DataFilesCheck check;
    };
    std::string flipped = files[1];
    flipped[kPiece + 100] ^= 0x55;
    const size_t none = archive.size();
    const Case cases[] = {
        {"intact", 0, files[0], none, DataFilesCheck::kPresent},
        {"flipped", 1, flipped, kStart + 3 * kPiece, DataFilesCheck::kPresent},
        {"swapped", 0, files[1], kStart, DataFilesCheck::kPresent},
        {"short", 2, files[2].substr(0, files[2].size() - 1), kStart + 4 * kPiece, DataFilesCheck::kDamaged},
        {"missing", 1, std::string(), kStart + 2 * kPiece, DataFilesCheck::kMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PayloadSource source;
        ASSERT_TRUE(ReadDataFileTable(table, &source));
        source.image.file.reset(::CreateFileW(scratch.Join(L"image.bin").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        source.image.size = kStart + 5000;
        for (size_t n = 0; n < files.size(); ++n) {
            const std::wstring path = scratch.Join(source.dataFiles[n].name);
            ::DeleteFileW(path.c_str());
            if (n == c.file && c.check == DataFilesCheck::kMissing) {
                source.dataFiles[n].openError = ERROR_FILE_NOT_FOUND;
                continue;
            }
            WriteBytes(path, n == c.file ? c.bytes : files[n]);
            source.dataFiles[n].file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        std::wstring missing;
        EXPECT_EQ(CheckDataFiles(source, &missing), c.check);
        EXPECT_EQ(missing, c.check == DataFilesCheck::kMissing ? L"d-2.bin" : L"");

        // Read front to back in steps that cross pieces and files.
        PayloadSourceStream stream(source);
        std::string read;
        SRes result = SZ_OK;
        for (;;) {
            char buffer[40000];
            size_t size = sizeof(buffer);
            result = stream.Stream()->Read(stream.Stream(), buffer, &size);
            if (result != SZ_OK || size == 0)
                break;
            read.append(buffer, size);
        }
        EXPECT_EQ(result == SZ_OK, c.firstBad == none);
        EXPECT_LE(read.size(), c.firstBad);
        EXPECT_TRUE(read == archive.substr(0, read.size()));
        // What lies past a bad piece still reads, by its own pieces.
        Int64 at = static_cast<Int64>(kStart + kPacked - 10);
        ASSERT_EQ(stream.Stream()->Seek(stream.Stream(), &at, SZ_SEEK_SET), SZ_OK);
        char tail[100];
        size_t size = sizeof(tail);
        if (c.file != 2) {
            ASSERT_EQ(stream.Stream()->Read(stream.Stream(), tail, &size), SZ_OK);
            EXPECT_EQ(std::string(tail, size), archive.substr(kStart + kPacked - 10, size));
        }
        // From the end, as the SDK measures the archive; a place before the
        // start is refused and moves nothing.
        Int64 end = 0, before = -1 - static_cast<Int64>(archive.size()), here = 0;
        ASSERT_EQ(stream.Stream()->Seek(stream.Stream(), &end, SZ_SEEK_END), SZ_OK);
        EXPECT_EQ(end, static_cast<Int64>(archive.size()));
        EXPECT_EQ(stream.Stream()->Seek(stream.Stream(), &before, SZ_SEEK_CUR), SZ_ERROR_PARAM);
        ASSERT_EQ(stream.Stream()->Seek(stream.Stream(), &here, SZ_SEEK_CUR), SZ_OK);
        EXPECT_EQ(here, end);
    }

    // Tables the installer does not take: a name that leaves its folder,
    // sizes that do not add up, a piece too few.
    for (const std::string& bad : {std::string("pieces 65536\npacked 300000\nfile 300000 ..\\d.bin\n") + pieces,
                                   std::string("pieces 65536\npacked 300001\n") + table.substr(table.find("file")),
                                   table.substr(0, table.size() - 65)}) {
        PayloadSource source;
        EXPECT_FALSE(ReadDataFileTable(bad, &source)) << bad.substr(0, 60);
    }
}

struct BadArchive {
    const wchar_t* file;
    const char* logPrefix;  // the last text passed
};

class BadArchiveTest : public PackageTest, public ::testing::WithParamInterface<BadArchive> {};

TEST_P(BadArchiveTest, FailsCleanlyNamingWhatFailed)
{
    EXPECT_FALSE(Decode(GetParam().file, scratch.path()));
    ASSERT_FALSE(recorder.logs.empty());
    EXPECT_EQ(recorder.logs.back().rfind(GetParam().logPrefix, 0), 0u) << recorder.logs.back();
    // An entry that cannot be decoded is the one the index names, and it was not reported.
    if (std::string(GetParam().logPrefix) == "SzArEx_Extract:") {
        ASSERT_GE(current, 0);
        EXPECT_EQ(recorder.progress.size(), static_cast<size_t>(current));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, BadArchiveTest,
    ::testing::Values(BadArchive{L"damaged.7z", "SzArEx_Extract:"}, BadArchive{L"ppmd.7z", "SzArEx_Extract:"},
                      BadArchive{L"encrypted.7z", "SzArEx_Extract:"},
                      BadArchive{L"encrypted_headers.7z", "CSPPackage::Decode - SzArEx_Open() err!"},
                      BadArchive{L"truncated.7z", "CSPPackage::Decode - SzArEx_Open() err!"},
                      BadArchive{L"notarchive.7z", "CSPPackage::Decode - SzArEx_Open() err!"},
                      BadArchive{L"missing.7z", "CSPPackage::Decode - InitArEx() err!"}),
    [](const auto& info) {
        std::string name = WideToUtf8(info.param.file);
        return name.substr(0, name.find('.'));
    });

}  // namespace
