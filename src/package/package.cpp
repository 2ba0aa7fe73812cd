#include "package/package.h"

#include "package/block_pipeline.h"
#include "package/payload_stream.h"
#include "system/unique_handle.h"

#include "7z.h"
#include "7zCrc.h"
#include "7zFile.h"
#include "7zTypes.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr int kLogBufferSize = 260;
constexpr UInt32 kNoBlock = 0xFFFFFFFF;
constexpr UINT kLogCodePage = 936;

// Two threads decode the next blocks while the worker writes the files of the
// one before: writing is the slower side under Wine, decoding where the disk
// is fast. At most four blocks and 64 MiB of them in memory at once (the
// installer's payload has blocks of 16 MiB); a single larger block is still
// decoded, alone.
constexpr BlockPipelineLimits kPipelineLimits = {2, 4, 64u << 20};

// The decoder's allocators are the plain heap; a request for 0 bytes yields
// null and freeing null is allowed.
void* HeapAllocate(ISzAllocPtr, size_t size) { return size ? std::malloc(size) : nullptr; }
void HeapRelease(ISzAllocPtr, void* address) { std::free(address); }
const ISzAlloc kHeap = {HeapAllocate, HeapRelease};

// Cuts a GBK text to at most maxBytes without splitting a double-byte character.
size_t GbkPrefixLength(const std::string& text, size_t maxBytes)
{
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t width = ::IsDBCSLeadByteEx(kLogCodePage, static_cast<BYTE>(text[pos])) ? 2 : 1;
        if (pos + width > maxBytes)
            break;
        pos += width;
    }
    return pos;
}


// The archive read through a window of the shared handle: each reader has a
// stream of its own, and so a position of its own.
class WindowArchiveReader : public ArchiveReader {
public:
    WindowArchiveReader(HANDLE file, uint64_t offset, uint64_t size, const volatile LONG* stop)
        : ArchiveReader(stop), window_(file, offset, size)
    {
        SetSource(window_.Stream());
    }

private:
    PayloadStream window_;
};

}  // namespace

// Everything one Decode call holds, released on every way out of it.
class CSPPackage::Extraction {
public:
    Extraction(HANDLE file, uint64_t offset, uint64_t size) : file_(file), offset_(offset), size_(size)
    {
        SzArEx_Init(&db);
        CrcGenerateTable();
    }
    ~Extraction()
    {
        // The decoding threads end before the database they read goes.
        pipeline.reset();
        SzArEx_Free(&db, &kHeap);
    }
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    // The one place a reader of the archive is made: the database's own and
    // every decoding thread's.
    std::unique_ptr<ArchiveReader> NewReader(const volatile LONG* stop) const
    {
        return std::make_unique<WindowArchiveReader>(file_, offset_, size_, stop);
    }

    bool ReadDatabase()
    {
        const auto reader = NewReader(nullptr);
        return SzArEx_Open(&db, reader->Stream(), &kHeap, &kHeap) == SZ_OK;
    }

    // Begins decoding ahead the blocks that the entries not in inPlace need.
    void StartPipeline(const std::vector<bool>* inPlace)
    {
        pipeline = std::make_unique<BlockPipeline>(
            db, [this](const volatile LONG* stop) { return NewReader(stop); }, kPipelineLimits, inPlace);
    }

    std::wstring EntryName(UInt32 index)
    {
        const size_t units = SzArEx_GetFileNameUtf16(&db, index, nullptr);
        if (units > nameBuffer.size())
            nameBuffer.assign(units, 0);
        SzArEx_GetFileNameUtf16(&db, index, nameBuffer.data());
        return std::wstring(nameBuffer.begin(), nameBuffer.begin() + (units ? units - 1 : 0));
    }

    // The entry's data inside its decoded block. Blocks come from the
    // pipeline, decoded ahead; the SDK's extraction, given the block as its
    // one-block cache, only finds the entry in it and checks its CRC. An
    // entry without data leaves the cache alone, so a solid block is used
    // once even when empty files and folders stand between its entries.
    bool ExtractEntry(UInt32 index, const Byte** data, size_t* size)
    {
        *data = nullptr;
        *size = 0;
        const UInt32 folder = db.FileToFolder[index];
        if (folder == kNoBlock)
            return true;
        // An empty file inside a block that only kept files need: nothing to find.
        if (SzArEx_GetFileSize(&db, index) == 0 && !pipeline->Holds(folder))
            return true;
        if (folder != blockIndex) {
            block = nullptr;
            blockIndex = kNoBlock;
            if (pipeline->Take(folder, &block, &blockSize) != SZ_OK || (!block && blockSize != 0))
                return false;
            blockIndex = folder;
        }
        // A block of no bytes has no buffer, and its entries no data.
        if (!block)
            return true;
        // Given the block as its cache, the SDK reads nothing: no stream.
        size_t offset = 0;
        const SRes result =
            SzArEx_Extract(&db, nullptr, index, &blockIndex, &block, &blockSize, &offset, size, &kHeap, &kHeap);
        if (result != SZ_OK)
            return false;
        *data = block + offset;
        return true;
    }

    CSzArEx db{};
    std::unique_ptr<BlockPipeline> pipeline;
    UInt32 blockIndex = kNoBlock;
    Byte* block = nullptr;
    size_t blockSize = 0;
    std::vector<UInt16> nameBuffer;
    std::unordered_set<std::wstring> madeFolders;

private:
    HANDLE file_;
    uint64_t offset_;
    uint64_t size_;
};

CSPPackage::CSPPackage()
{
    runFlag_.Set(1);
}

CSPPackage::~CSPPackage()
{
    context_ = nullptr;
    logFn_ = nullptr;
    progressFn_ = nullptr;
}

bool CSPPackage::SetCallbacks(void* context, PackageProgressFn progressFn, PackageLogFn logFn)
{
    if (!context)
        return false;
    context_ = context;
    progressFn_ = progressFn;
    logFn_ = logFn;
    return true;
}

void CSPPackage::Log(const char* text) const
{
    if (logFn_)
        logFn_(context_, text);
}

namespace {

// Log texts are GBK whatever the system's code page: formatted wide, then
// converted and cut to the 259 bytes that a log line holds.
void FormatLog(char (&line)[kLogBufferSize], const wchar_t* format, ...)
{
    wchar_t wide[1024];
    va_list args;
    va_start(args, format);
    std::vswprintf(wide, std::size(wide), format, args);
    va_end(args);
    wide[std::size(wide) - 1] = L'\0';
    const int bytes = ::WideCharToMultiByte(kLogCodePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(kLogCodePage, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
    text.resize(std::strlen(text.c_str()));
    const size_t length = GbkPrefixLength(text, kLogBufferSize - 1);
    std::memcpy(line, text.data(), length);
    line[length] = '\0';
}

std::wstring WithBackslashes(std::wstring name)
{
    for (auto& c : name) {
        if (c == L'/')
            c = L'\\';
    }
    return name;
}

}  // namespace

bool CSPPackage::Decode(const wchar_t* archivePath, const wchar_t* targetFolder, int32_t* currentIndex)
{
    UniqueFile file;
    LARGE_INTEGER size{};
    if (archivePath)
        file.reset(::CreateFileW(archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::GetFileSizeEx(file.get(), &size)) {
        Log("CSPPackage::Decode - InitArEx() err!\n");
        return false;
    }
    return Decode(file.get(), 0, static_cast<uint64_t>(size.QuadPart), targetFolder, currentIndex);
}

bool CSPPackage::Decode(HANDLE file, uint64_t offset, uint64_t size, const wchar_t* targetFolder,
                        int32_t* currentIndex)
{
    return Decode(file, offset, size, targetFolder, currentIndex, nullptr);
}

bool CSPPackage::Decode(HANDLE file, uint64_t offset, uint64_t size, const wchar_t* targetFolder,
                        int32_t* currentIndex, const std::vector<bool>* inPlace)
{
    char line[kLogBufferSize];
    // An empty folder would put every entry at the root of the current drive.
    if (!file || file == INVALID_HANDLE_VALUE || !targetFolder || !*targetFolder) {
        Log("CSPPackage::Decode - InitArEx() err!\n");
        return false;
    }
    try {
        auto extraction = std::make_unique<Extraction>(file, offset, size);
        if (!extraction->ReadDatabase()) {
            Log("CSPPackage::Decode - SzArEx_Open() err!\n");
            return false;
        }
        extraction->StartPipeline(inPlace);

        const CSzArEx& db = extraction->db;
        const UInt32 total = db.NumFiles;
        if (logFn_) {
            FormatLog(line, L"包内文件数目：%d\n", static_cast<int>(total));
            Log(line);
        }
        const std::wstring folder = targetFolder;

        for (UInt32 i = 0; i < total; ++i) {
            if (gateFn_)
                gateFn_(context_);
            if (runFlag_.Get() == 0)
                return false;
            if (currentIndex)
                *currentIndex = static_cast<int32_t>(i);

            const std::wstring name = extraction->EntryName(i);
            if (!IsSafeEntryName(name.c_str())) {
                FormatLog(line, L"包内文件名非法:%ls\n", name.c_str());
                Log(line);
                return false;
            }

            // An entry kept in place is not even looked for in its block: its
            // block may never have been decoded.
            const bool kept = inPlace && i < inPlace->size() && (*inPlace)[i] && !SzArEx_IsDir(&db, i);
            const Byte* data = nullptr;
            size_t size = 0;
            if (!kept && !extraction->ExtractEntry(i, &data, &size)) {
                FormatLog(line, L"SzArEx_Extract:%ls失败!\n", name.c_str());
                Log(line);
                return false;
            }

            if (progressFn_) {
                ExtractProgress progress{};
                ::lstrcpynW(progress.name, name.c_str(), static_cast<int>(std::size(progress.name)));
                // A cut name does not end in half a character.
                const size_t shown = std::wcslen(progress.name);
                if (shown > 0 && IS_HIGH_SURROGATE(progress.name[shown - 1]))
                    progress.name[shown - 1] = L'\0';
                progress.index = i;
                progress.total = total;
                progressFn_(context_, progress);
            }

            // A kept file needs nothing on disk, not even the folders above it.
            if (kept)
                continue;

            // Outer folders first; a failure here shows when the file is created.
            // Each level is asked for once per run: under Wine every create is a
            // round trip to the server, and a game has thousands of entries.
            for (size_t slash = name.find(L'/'); slash != std::wstring::npos; slash = name.find(L'/', slash + 1)) {
                std::wstring level = name.substr(0, slash);
                if (extraction->madeFolders.insert(level).second)
                    ::CreateDirectoryW((folder + L"\\" + WithBackslashes(level)).c_str(), nullptr);
            }

            const std::wstring path = folder + L"\\" + WithBackslashes(name);
            if (SzArEx_IsDir(&db, i)) {
                if (extraction->madeFolders.insert(name).second)
                    ::CreateDirectoryW(path.c_str(), nullptr);
                continue;
            }

            CSzFile out;
            File_Construct(&out);
            if (OutFile_OpenW(&out, path.c_str()) != 0) {
                FormatLog(line, L"OutFile_Open:%ls失败!\n", path.c_str());
                Log(line);
                return false;
            }
            size_t written = size;
            const WRes writeResult = File_Write(&out, data, &written);
            if (writeResult != 0 || written != size) {
                FormatLog(line, L"File_Write %p失败!\n", static_cast<const void*>(extraction->block));
                Log(line);
                File_Close(&out);
                return false;
            }
            if (File_Close(&out) != 0)
                return false;

            if (SzBitWithVals_Check(&db.Attribs, i)) {
                UInt32 attributes = db.Attribs.Vals[i];
                // Archivers on Unix keep the file mode in the high word, marked by
                // 0x8000; Windows knows only the low attribute bits.
                if (attributes & 0xF0000000)
                    attributes &= 0x7FFF;
                // A new file already has the archive bit and nothing else.
                if (attributes != FILE_ATTRIBUTE_ARCHIVE)
                    ::SetFileAttributesW(path.c_str(), attributes);
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (logFn_) {
        FormatLog(line, L"解压成功!\n");
        Log(line);
    }
    return true;
}

bool ListEntries(HANDLE file, uint64_t offset, uint64_t size, std::vector<ArchiveEntry>* entries)
{
    entries->clear();
    if (!file || file == INVALID_HANDLE_VALUE)
        return false;
    try {
        CSPPackage::Extraction extraction(file, offset, size);
        if (!extraction.ReadDatabase())
            return false;
        const CSzArEx& db = extraction.db;
        std::vector<ArchiveEntry> listed(db.NumFiles);
        for (UInt32 i = 0; i < db.NumFiles; ++i) {
            ArchiveEntry& entry = listed[i];
            entry.name = extraction.EntryName(i);
            if (!IsSafeEntryName(entry.name.c_str()))
                return false;
            entry.name = WithBackslashes(std::move(entry.name));
            entry.isFolder = SzArEx_IsDir(&db, i);
            entry.size = SzArEx_GetFileSize(&db, i);
            entry.hasCrc = SzBitWithVals_Check(&db.CRCs, i);
            entry.crc = entry.hasCrc ? db.CRCs.Vals[i] : 0;
        }
        *entries = std::move(listed);
        return true;
    } catch (const std::bad_alloc&) {
        entries->clear();
        return false;
    }
}
