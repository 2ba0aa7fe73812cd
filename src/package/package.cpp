#include "package/package.h"

#include "package/block_pipeline.h"
#include "package/block_stream.h"
#include "package/payload_digest.h"
#include "package/payload_stream.h"
#include "package/sdk.h"
#include "system/unique_handle.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

constexpr int kLogBufferSize = 260;
constexpr UINT kLogCodePage = 936;

// The folders an extraction writes into are held without delete sharing:
// nobody renames them, or puts a link in their place, while it runs.
constexpr DWORD kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// What the whole run may hold at its peak, and what it holds besides the
// decoded blocks: the program, its heap and the database (measured: about
// 32 MiB under Wine), a streamed block's dictionary (make-installer packs
// those with 16 MiB) with its piece and its reader, and each decoding
// thread's reader (a look-ahead and a verified piece of 1 MiB each).
constexpr uint64_t kRunMemoryBound = 128ull << 20;
constexpr uint64_t kRunBaseline = 32ull << 20;
constexpr uint64_t kStreamedBlockMemory = 16ull << 20 | 2ull << 20;
constexpr uint64_t kReaderMemory = 2ull << 20;
// Decoded blocks always have room for three of the 16 MiB blocks most
// files are packed in: the one being written and two decoded ahead.
constexpr uint64_t kLeastBlockBytes = 48ull << 20;

// The pieces a streamed block is written in, and how often a big entry's
// progress is reported within it.
constexpr size_t kStreamPiece = 1u << 20;
constexpr uint64_t kProgressStep = 4ull << 20;

// Threads decode the next blocks while the worker writes the files of the
// one before: writing is the slower side under Wine, decoding where the disk
// is fast, so there are as many as the processors the process may use, less
// the worker's, and at least two; as many as the memory bound leaves room
// for, each block decoded ahead taking a thread. A single block larger than
// what is left is still decoded, alone (archives made elsewhere; the
// installer's own very large files are streamed instead).
BlockPipelineLimits PipelineLimits()
{
    unsigned processors = 0;
    DWORD_PTR process = 0, system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) {
        for (; process; process &= process - 1)
            ++processors;
    }
    // A process whose threads may run in every group sees only its first
    // group in the mask.
    if (processors >= 64)
        processors = static_cast<unsigned>(::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
    const uint64_t maxByMemory =
        (kRunMemoryBound - kRunBaseline - kStreamedBlockMemory - kLeastBlockBytes) / kReaderMemory;
    unsigned decoders = processors > 2 ? processors - 1 : 2;
    if (decoders > maxByMemory)
        decoders = static_cast<unsigned>(maxByMemory);
    BlockPipelineLimits limits;
    limits.decoders = decoders;
    limits.blocks = decoders + 2;
    limits.bytes = static_cast<size_t>(kRunMemoryBound - kRunBaseline - kStreamedBlockMemory -
                                       decoders * kReaderMemory);
    return limits;
}

// The decoder's allocators are the plain heap; a request for 0 bytes yields
// null and freeing null is allowed.

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


// The archive read through the payload's source: each reader has a stream
// of its own, and so a position and a verified piece of its own.
class SourceArchiveReader : public ArchiveReader {
public:
    SourceArchiveReader(const PayloadSource& source, const volatile LONG* stop)
        : ArchiveReader(stop), stream_(source)
    {
        SetSource(stream_.Stream());
    }

private:
    PayloadSourceStream stream_;
};

}  // namespace

// Everything one Decode call holds, released on every way out of it.
class CSPPackage::Extraction {
public:
    explicit Extraction(const PayloadSource& source) : source_(source)
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
        return std::make_unique<SourceArchiveReader>(source_, stop);
    }

    bool ReadDatabase()
    {
        const auto reader = NewReader(nullptr);
        return SzArEx_Open(&db, reader->Stream(), &kHeap, &kHeap) == SZ_OK;
    }

    // Begins decoding ahead the blocks that the entries not in inPlace need,
    // except those streamed on the calling thread.
    void StartPipeline(const std::vector<bool>* inPlace)
    {
        streamed.assign(db.db.NumFolders, false);
        lastNeeded.assign(db.db.NumFolders, kNoBlock);
        bool anyStreamed = false;
        for (UInt32 folder = 0; folder < db.db.NumFolders; ++folder) {
            streamed[folder] = BlockStream::Streams(db.db, folder);
            anyStreamed = anyStreamed || streamed[folder];
        }
        std::vector<bool> unused;
        if (inPlace || anyStreamed)
            unused.assign(db.NumFiles, false);
        for (UInt32 i = 0; i < db.NumFiles; ++i) {
            const UInt32 folder = db.FileToFolder[i];
            const bool kept = inPlace && i < inPlace->size() && (*inPlace)[i] && !SzArEx_IsDir(&db, i);
            if (folder != kNoBlock && !kept && SzArEx_GetFileSize(&db, i) != 0)
                lastNeeded[folder] = i;
            if (!unused.empty())
                unused[i] = kept || (folder != kNoBlock && streamed[folder]);
        }
        pipeline = std::make_unique<BlockPipeline>(
            db, [this](const volatile LONG* stop) { return NewReader(stop); }, PipelineLimits(),
            unused.empty() ? nullptr : &unused);
    }

    // Whether the entry's data comes from a streamed block, and, for a kept
    // entry, whether it must still be decoded (and dropped) because an entry
    // after it in its block is needed.
    bool IsStreamed(UInt32 index) const
    {
        const UInt32 folder = db.FileToFolder[index];
        return folder != kNoBlock && streamed[folder];
    }
    bool StreamPassesThrough(UInt32 index) const
    {
        const UInt32 folder = db.FileToFolder[index];
        return IsStreamed(index) && lastNeeded[folder] != kNoBlock && index < lastNeeded[folder];
    }

    // The entry's data from its streamed block, a piece at a time, each
    // given to sink(data, size, doneInEntry), which returns false to stop.
    // The entry's CRC-32 is checked at its end, and the block's end after
    // its last entry. Entries of a block come in archive order from its
    // first; any other order fails.
    template <class Sink>
    SRes StreamEntry(UInt32 index, Sink&& sink)
    {
        uint64_t left = SzArEx_GetFileSize(&db, index);
        if (left == 0)
            return SZ_OK;
        const UInt32 folder = db.FileToFolder[index];
        if (folder != streamFolder) {
            stream.reset();
            streamFolder = kNoBlock;
            if (!streamReader)
                streamReader = NewReader(nullptr);
            if (!streamReader)
                return SZ_ERROR_READ;
            stream = std::make_unique<BlockStream>(db, folder, streamReader->Stream());
            const SRes begun = stream->Begin();
            if (begun != SZ_OK)
                return begun;
            streamFolder = folder;
            piece.resize(kStreamPiece);
        }
        const uint64_t read = SzAr_GetFolderUnpackSize(&db.db, folder) - stream->Remaining();
        if (db.UnpackPositions[index] - db.UnpackPositions[db.FolderToFile[folder]] != read)
            return SZ_ERROR_FAIL;
        UInt32 crc = CRC_INIT_VAL;
        uint64_t done = 0;
        while (left > 0) {
            size_t size = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
            const SRes result = stream->Read(piece.data(), &size);
            if (result != SZ_OK)
                return result;
            crc = CrcUpdate(crc, piece.data(), size);
            left -= size;
            done += size;
            if (!sink(piece.data(), size, done))
                return SZ_ERROR_PROGRESS;
        }
        if (SzBitWithVals_Check(&db.CRCs, index) && CRC_GET_DIGEST(crc) != db.CRCs.Vals[index])
            return SZ_ERROR_CRC;
        if (stream->Remaining() == 0) {
            const SRes finished = stream->Finish();
            stream.reset();
            streamFolder = kNoBlock;
            return finished;
        }
        return SZ_OK;
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
    // By block: streamed on the calling thread, and its last entry needed.
    std::vector<bool> streamed;
    std::vector<UInt32> lastNeeded;
    std::unique_ptr<ArchiveReader> streamReader;
    std::unique_ptr<BlockStream> stream;
    UInt32 streamFolder = kNoBlock;
    std::vector<Byte> piece;

private:
    const PayloadSource& source_;
};

CSPPackage::CSPPackage() = default;

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

std::wstring WithSlashes(std::wstring name)
{
    for (auto& c : name) {
        if (c == L'\\')
            c = L'/';
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
                        int32_t* currentIndex, const std::vector<bool>* inPlace)
{
    // An empty folder would put every entry at the root of the current drive.
    HeldFolder target;
    if (!targetFolder || !*targetFolder || !OpenFolderNoFollow(targetFolder, kHeldShare, &target)) {
        Log("CSPPackage::Decode - InitArEx() err!\n");
        return false;
    }
    return Decode(file, offset, size, target, currentIndex, inPlace);
}

namespace {

// The folders an extraction has made, each held from the first entry that
// needs it to the end of the run, so that none is renamed or replaced while
// entries go into it: by relative name ("/" between levels); "" is the
// target itself.
class MadeFolders {
public:
    MadeFolders(const HeldFolder& target, PSECURITY_DESCRIPTOR access) : target_(target), access_(access) {}

    // The held folder at relative, each missing level made through the one
    // above it; null when a level cannot be made or is not a plain folder.
    const HeldFolder* Get(const std::wstring& relative)
    {
        if (relative.empty())
            return &target_;
        const auto known = folders_.find(relative);
        if (known != folders_.end())
            return known->second.get();
        const size_t slash = relative.rfind(L'/');
        const HeldFolder* parent = Get(slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash));
        auto held = std::make_unique<HeldFolder>();
        if (!parent ||
            !MakeChildFolder(*parent, relative.substr(slash == std::wstring::npos ? 0 : slash + 1), kHeldShare,
                             held.get(), access_))
            return nullptr;  // not remembered: the failure shows at this entry
        return folders_.emplace(relative, std::move(held)).first->second.get();
    }

private:
    const HeldFolder& target_;
    PSECURITY_DESCRIPTOR access_;
    std::unordered_map<std::wstring, std::unique_ptr<HeldFolder>> folders_;
};

// Writes size bytes from data to file, in pieces WriteFile takes.
bool WriteWhole(HANDLE file, const Byte* data, size_t size)
{
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data, piece, &written, nullptr) || written != piece)
            return false;
        data += piece;
        size -= piece;
    }
    return true;
}

}  // namespace

bool CSPPackage::Decode(HANDLE file, uint64_t offset, uint64_t size, const HeldFolder& target,
                        int32_t* currentIndex, const std::vector<bool>* inPlace)
{
    PayloadSource source;
    PayloadSourceOfWindow(file, offset, size, &source);
    return Decode(source, target, currentIndex, inPlace);
}

bool CSPPackage::Decode(const PayloadSource& source, const HeldFolder& target, int32_t* currentIndex,
                        const std::vector<bool>* inPlace)
{
    char line[kLogBufferSize];
    if (!source || !target) {
        Log("CSPPackage::Decode - InitArEx() err!\n");
        return false;
    }
    try {
        auto extraction = std::make_unique<Extraction>(source);
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
        MadeFolders folders(target, newFolderAccess_);

        for (UInt32 i = 0; i < total; ++i) {
            if (gateFn_)
                gateFn_(context_);
            if (runFlag_.load() == 0)
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
            // A streamed block's entries are decoded as they are written.
            const bool streamed = extraction->IsStreamed(i) && !SzArEx_IsDir(&db, i);
            const Byte* data = nullptr;
            size_t size = 0;
            if (!kept && !streamed && !extraction->ExtractEntry(i, &data, &size)) {
                FormatLog(line, L"SzArEx_Extract:%ls失败!\n", name.c_str());
                Log(line);
                return false;
            }

            ExtractProgress progress{};
            if (progressFn_) {
                ::lstrcpynW(progress.name, name.c_str(), static_cast<int>(std::size(progress.name)));
                // A cut name does not end in half a character.
                const size_t shown = std::wcslen(progress.name);
                if (shown > 0 && IS_HIGH_SURROGATE(progress.name[shown - 1]))
                    progress.name[shown - 1] = L'\0';
                progress.index = i;
                progress.total = total;
                progress.bytesDone = db.UnpackPositions[i];
                progress.bytesTotal = db.UnpackPositions[total];
                progressFn_(context_, progress);
            }

            // A kept file needs nothing on disk, not even the folders above
            // it; inside a streamed block its bytes may still have to be
            // decoded to reach the entries after it.
            if (kept) {
                if (extraction->StreamPassesThrough(i) &&
                    extraction->StreamEntry(i, [](const Byte*, size_t, uint64_t) { return true; }) != SZ_OK) {
                    FormatLog(line, L"SzArEx_Extract:%ls失败!\n", name.c_str());
                    Log(line);
                    return false;
                }
                continue;
            }

            // Either separator may stand between levels; "/" is the one kept.
            const std::wstring relative = WithSlashes(name);
            if (SzArEx_IsDir(&db, i)) {
                if (!folders.Get(relative)) {
                    FormatLog(line, L"CreateDirectory:%ls失败!\n", name.c_str());
                    Log(line);
                    return false;
                }
                continue;
            }
            const size_t slash = relative.rfind(L'/');
            const HeldFolder* parent =
                folders.Get(slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash));
            UniqueFile out;
            // Always a new file: an entry of that name, a link above all, is
            // never opened, and the entry fails.
            if (!parent || !OpenChild(*parent, relative.substr(slash == std::wstring::npos ? 0 : slash + 1),
                                      GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, kFileCreate,
                                      kNonDirectoryFile | kSequentialOnly, &out, newFileAccess_)) {
                FormatLog(line, L"OutFile_Open:%ls失败!\n", (target.finalPath + L"\\" + WithBackslashes(name)).c_str());
                Log(line);
                return false;
            }
            if (streamed) {
                // A big entry is reported as it goes, and a cancel takes
                // effect between its pieces: it may take minutes.
                bool written = true;
                uint64_t reported = 0;
                const SRes result = extraction->StreamEntry(i, [&](const Byte* piece, size_t length, uint64_t done) {
                    written = WriteWhole(out.get(), piece, length);
                    if (!written)
                        return false;
                    if (progressFn_ && done - reported >= kProgressStep) {
                        reported = done;
                        progress.bytesDone = db.UnpackPositions[i] + done;
                        progressFn_(context_, progress);
                    }
                    if (gateFn_)
                        gateFn_(context_);
                    return runFlag_.load() != 0;
                });
                if (result != SZ_OK) {
                    if (!written)
                        FormatLog(line, L"File_Write %p失败!\n", static_cast<const void*>(extraction->piece.data()));
                    else
                        FormatLog(line, L"SzArEx_Extract:%ls失败!\n", name.c_str());
                    Log(line);
                    return false;
                }
            } else if (!WriteWhole(out.get(), data, size)) {
                FormatLog(line, L"File_Write %p失败!\n", static_cast<const void*>(extraction->block));
                Log(line);
                return false;
            }

            FILE_BASIC_INFO basic{};
            if (SzBitWithVals_Check(&db.Attribs, i)) {
                UInt32 attributes = db.Attribs.Vals[i];
                // Archivers on Unix keep the file mode in the high word, marked by
                // 0x8000; Windows knows only the low attribute bits.
                if (attributes & 0xF0000000)
                    attributes &= 0x7FFF;
                attributes &= ~static_cast<UInt32>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
                // A new file already has the archive bit and nothing else.
                if (attributes != FILE_ATTRIBUTE_ARCHIVE && attributes != 0)
                    basic.FileAttributes = attributes;
            }
            if (SzBitWithVals_Check(&db.MTime, i)) {
                basic.LastWriteTime.LowPart = db.MTime.Vals[i].Low;
                basic.LastWriteTime.HighPart = static_cast<LONG>(db.MTime.Vals[i].High);
            }
            // Zero leaves a field as it is.
            if ((basic.FileAttributes != 0 || basic.LastWriteTime.QuadPart != 0) &&
                !::SetFileInformationByHandle(out.get(), FileBasicInfo, &basic, sizeof(basic)))
                return false;
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

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The table's lines by name (backslashes between levels, as ArchiveEntry
// names go); a name given twice is left out, as is a line that is not
// "<64 hex digits>  <name>".
std::unordered_map<std::wstring, std::array<uint8_t, 32>> ReadDigestTable(std::string_view table)
{
    std::unordered_map<std::wstring, std::array<uint8_t, 32>> digests;
    std::unordered_set<std::wstring> twice;
    while (!table.empty()) {
        const size_t end = table.find('\n');
        const std::string_view line = table.substr(0, end);
        table = end == std::string_view::npos ? std::string_view() : table.substr(end + 1);
        if (line.size() < 67 || line[64] != ' ' || line[65] != ' ')
            continue;
        std::array<uint8_t, 32> digest{};
        bool hex = true;
        for (size_t i = 0; i < 32 && hex; ++i) {
            const int high = HexValue(line[2 * i]);
            const int low = HexValue(line[2 * i + 1]);
            hex = high >= 0 && low >= 0;
            digest[i] = static_cast<uint8_t>(high << 4 | low);
        }
        const std::string_view utf8 = line.substr(66);
        const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                                static_cast<int>(utf8.size()), nullptr, 0);
        if (!hex || units <= 0)
            continue;
        std::wstring name(static_cast<size_t>(units), L'\0');
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), name.data(),
                              units);
        name = WithBackslashes(std::move(name));
        if (twice.count(name) || !digests.emplace(name, digest).second) {
            digests.erase(name);
            twice.insert(std::move(name));
        }
    }
    return digests;
}

}  // namespace

bool MakeEntryDigestTable(HANDLE file, uint64_t offset, uint64_t size, std::string* table)
{
    PayloadSource source;
    PayloadSourceOfWindow(file, offset, size, &source);
    return MakeEntryDigestTable(source, table);
}

bool MakeEntryDigestTable(const PayloadSource& source, std::string* table)
{
    table->clear();
    if (!source)
        return false;
    try {
        PrepareSha256();
        CSPPackage::Extraction extraction(source);
        if (!extraction.ReadDatabase())
            return false;
        extraction.StartPipeline(nullptr);
        const CSzArEx& db = extraction.db;
        std::string text;
        for (UInt32 i = 0; i < db.NumFiles; ++i) {
            const std::wstring name = WithSlashes(extraction.EntryName(i));
            const Byte* data = nullptr;
            size_t length = 0;
            const bool streamed = extraction.IsStreamed(i) && !SzArEx_IsDir(&db, i);
            if (!IsSafeEntryName(name.c_str()) || (!streamed && !extraction.ExtractEntry(i, &data, &length)))
                return false;
            if (SzArEx_IsDir(&db, i))
                continue;
            CSha256 sum;
            Sha256_Init(&sum);
            if (!streamed)
                Sha256_Update(&sum, data, length);
            else if (extraction.StreamEntry(i, [&sum](const Byte* piece, size_t size, uint64_t) {
                         Sha256_Update(&sum, piece, size);
                         return true;
                     }) != SZ_OK)
                return false;
            Byte digest[SHA256_DIGEST_SIZE];
            Sha256_Final(&sum, digest);
            for (const Byte b : digest) {
                text += "0123456789abcdef"[b >> 4];
                text += "0123456789abcdef"[b & 15];
            }
            text += "  ";
            const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0,
                                                    nullptr, nullptr);
            const size_t at = text.size();
            text.resize(at + static_cast<size_t>(bytes));
            ::WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), text.data() + at, bytes,
                                  nullptr, nullptr);
            text += '\n';
        }
        *table = std::move(text);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ListEntries(HANDLE file, uint64_t offset, uint64_t size, std::string_view digestTable,
                 std::vector<ArchiveEntry>* entries)
{
    PayloadSource source;
    PayloadSourceOfWindow(file, offset, size, &source);
    return ListEntries(source, digestTable, entries);
}

bool ListEntries(const PayloadSource& source, std::string_view digestTable, std::vector<ArchiveEntry>* entries)
{
    if (!ListEntries(source, entries))
        return false;
    try {
        const auto digests = ReadDigestTable(digestTable);
        for (ArchiveEntry& entry : *entries) {
            const auto found = entry.isFolder ? digests.end() : digests.find(entry.name);
            entry.hasSha256 = found != digests.end();
            if (entry.hasSha256)
                entry.sha256 = found->second;
        }
        return true;
    } catch (const std::bad_alloc&) {
        entries->clear();
        return false;
    }
}

bool ListEntries(HANDLE file, uint64_t offset, uint64_t size, std::vector<ArchiveEntry>* entries)
{
    PayloadSource source;
    PayloadSourceOfWindow(file, offset, size, &source);
    return ListEntries(source, entries);
}

bool ListEntries(const PayloadSource& source, std::vector<ArchiveEntry>* entries)
{
    entries->clear();
    if (!source)
        return false;
    try {
        CSPPackage::Extraction extraction(source);
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
