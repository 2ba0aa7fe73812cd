#include "package/payload_source.h"

#include "package/payload_digest.h"
#include "package/payload_stream.h"
#include "package/sdk.h"
#include "system/folder_handles.h"
#include "system/paths.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr uint64_t kStartHeaderSize = 32;
// make-installer's pieces are 1 MiB; anything far larger is no table of ours.
constexpr uint64_t kLargestPiece = 64u << 20;

bool ReadNumber(std::string_view text, uint64_t* value)
{
    if (text.empty() || text.size() > 19)
        return false;
    uint64_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = number;
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A name the installer opens in its own folder: one plain component.
bool PlainName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..")
        return false;
    return std::none_of(name.begin(), name.end(), [](wchar_t c) {
        return c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr;
    });
}

bool ReadAt(HANDLE file, uint64_t at, void* buffer, DWORD want, DWORD* read)
{
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    *read = 0;
    return ::ReadFile(file, buffer, want, read, &where) || ::GetLastError() == ERROR_HANDLE_EOF;
}

}  // namespace

bool ReadDataFileTable(std::string_view text, PayloadSource* source)
{
    uint64_t pieceSize = 0;
    uint64_t packed = 0;
    bool havePieceSize = false, havePacked = false;
    std::vector<DataFile> files;
    std::vector<std::array<uint8_t, 32>> pieces;
    uint64_t total = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.rfind("pieces ", 0) == 0) {
            havePieceSize = ReadNumber(line.substr(7), &pieceSize);
        } else if (line.rfind("packed ", 0) == 0) {
            havePacked = ReadNumber(line.substr(7), &packed);
        } else if (line.rfind("file ", 0) == 0) {
            const std::string_view rest = line.substr(5);
            const size_t space = rest.find(' ');
            DataFile file;
            if (space == std::string_view::npos || !ReadNumber(rest.substr(0, space), &file.size) || file.size == 0)
                return false;
            const std::string_view utf8 = rest.substr(space + 1);
            const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                                    static_cast<int>(utf8.size()), nullptr, 0);
            if (units <= 0)
                return false;
            file.name.assign(static_cast<size_t>(units), L'\0');
            ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                  file.name.data(), units);
            if (!PlainName(file.name))
                return false;
            file.start = total;
            total += file.size;
            files.push_back(std::move(file));
        } else if (line.size() == 64) {
            std::array<uint8_t, 32> digest{};
            for (size_t i = 0; i < 32; ++i) {
                const int high = HexDigit(line[2 * i]);
                const int low = HexDigit(line[2 * i + 1]);
                if (high < 0 || low < 0)
                    return false;
                digest[i] = static_cast<uint8_t>(high << 4 | low);
            }
            pieces.push_back(digest);
        } else if (!line.empty()) {
            return false;
        }
    }
    if (!havePieceSize || !havePacked || pieceSize == 0 || pieceSize > kLargestPiece || files.empty() ||
        total != packed)
        return false;
    size_t count = 0;
    for (DataFile& file : files) {
        file.firstPiece = count;
        count += static_cast<size_t>((file.size + pieceSize - 1) / pieceSize);
    }
    if (count != pieces.size())
        return false;
    source->pieceSize = static_cast<uint32_t>(pieceSize);
    source->packedSize = packed;
    source->dataFiles = std::move(files);
    source->pieces = std::move(pieces);
    return true;
}

bool OpenDataFiles(HMODULE module, PayloadSource* source)
{
    if (!module)
        module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(kDataFilesResourceId), kDigestResourceType);
    if (!found)
        return true;
    HGLOBAL loaded = ::LoadResource(module, found);
    const char* bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    if (!bytes || !ReadDataFileTable(std::string_view(bytes, ::SizeofResource(module, found)), source))
        return false;

    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    source->folder = ParentOf(path);
    // Held only while the files are opened through it: afterwards the
    // files' own handles keep what they opened.
    HeldFolder folder;
    const bool opened = !source->folder.empty() &&
                        OpenFolderNoFollow(source->folder, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           &folder);
    const DWORD folderError = opened ? ERROR_SUCCESS : ERROR_CANT_ACCESS_FILE;
    for (DataFile& file : source->dataFiles) {
        if (!opened) {
            file.openError = folderError;
            continue;
        }
        // Read sharing only: nobody writes, replaces or renames a data file
        // from here to the end of the run.
        if (!OpenChild(folder, file.name, GENERIC_READ, FILE_SHARE_READ, kFileOpen, kNonDirectoryFile, &file.file)) {
            file.openError = ::GetLastError();
            continue;
        }
        if (!HasSingleLink(file.file.get())) {
            file.file.reset();
            file.openError = ERROR_CANT_ACCESS_FILE;
        }
    }
    return true;
}

bool PayloadSourceOfWindow(HANDLE file, uint64_t offset, uint64_t size, PayloadSource* source)
{
    *source = PayloadSource();
    HANDLE copy = nullptr;
    if (!file || file == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return false;
    source->image.file.reset(copy);
    source->image.offset = offset;
    source->image.size = size;
    return true;
}

bool SharePayloadSource(const PayloadSource& source, PayloadSource* copy)
{
    *copy = PayloadSource();
    PayloadSource made;
    if (!ShareResourceWindow(source.image, &made.image))
        return false;
    made.pieceSize = source.pieceSize;
    made.packedSize = source.packedSize;
    made.pieces = source.pieces;
    made.folder = source.folder;
    for (const DataFile& file : source.dataFiles) {
        DataFile shared;
        shared.name = file.name;
        shared.size = file.size;
        shared.start = file.start;
        shared.firstPiece = file.firstPiece;
        shared.openError = file.openError;
        HANDLE handle = nullptr;
        if (file.file) {
            if (!::DuplicateHandle(::GetCurrentProcess(), file.file.get(), ::GetCurrentProcess(), &handle, 0, FALSE,
                                   DUPLICATE_SAME_ACCESS))
                return false;
            shared.file.reset(handle);
        }
        made.dataFiles.push_back(std::move(shared));
    }
    *copy = std::move(made);
    return true;
}

DataFilesCheck CheckDataFiles(const PayloadSource& source, std::wstring* missing)
{
    missing->clear();
    DataFilesCheck result = DataFilesCheck::kPresent;
    for (const DataFile& file : source.dataFiles) {
        if (!file.file) {
            if (file.openError == ERROR_FILE_NOT_FOUND || file.openError == ERROR_PATH_NOT_FOUND) {
                if (missing->empty())
                    *missing = file.name;
                continue;
            }
            result = DataFilesCheck::kDamaged;
            continue;
        }
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file.file.get(), &size) || static_cast<uint64_t>(size.QuadPart) != file.size)
            result = DataFilesCheck::kDamaged;
    }
    // Put beside the installer, a missing file may be all that is wrong.
    return !missing->empty() ? DataFilesCheck::kMissing : result;
}

PayloadSourceStream::PayloadSourceStream(const PayloadSource& source) : vt_{{Read, Seek}, this}, source_(source)
{
}

bool PayloadSourceStream::LoadPiece(size_t fileIndex, uint64_t pieceInFile)
{
    const DataFile& file = source_.dataFiles[fileIndex];
    const size_t index = file.firstPiece + static_cast<size_t>(pieceInFile);
    if (index == pieceIndex_)
        return true;
    pieceIndex_ = SIZE_MAX;
    const uint64_t at = pieceInFile * source_.pieceSize;
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>(source_.pieceSize, file.size - at));
    if (piece_.size() < source_.pieceSize)
        piece_.resize(source_.pieceSize);
    DWORD read = 0;
    if (!file.file || !ReadAt(file.file.get(), at, piece_.data(), want, &read) || read != want) {
        ::SetLastError(ERROR_CRC);
        return false;
    }
    PrepareSha256();
    CSha256 state;
    Sha256_Init(&state);
    Sha256_Update(&state, piece_.data(), read);
    std::array<uint8_t, 32> digest{};
    Sha256_Final(&state, digest.data());
    if (digest != source_.pieces[index]) {
        ::SetLastError(ERROR_CRC);
        return false;
    }
    pieceIndex_ = index;
    pieceLength_ = read;
    return true;
}

SRes PayloadSourceStream::ReadPacked(uint64_t at, Byte* buffer, size_t want, size_t* got)
{
    // The file that holds packed byte at: the last that starts at or before it.
    const auto& files = source_.dataFiles;
    const auto after = std::upper_bound(files.begin(), files.end(), at,
                                        [](uint64_t value, const DataFile& file) { return value < file.start; });
    const size_t fileIndex = static_cast<size_t>(after - files.begin()) - 1;
    const uint64_t inFile = at - files[fileIndex].start;
    const uint64_t pieceInFile = inFile / source_.pieceSize;
    if (!LoadPiece(fileIndex, pieceInFile))
        return SZ_ERROR_READ;
    const size_t inPiece = static_cast<size_t>(inFile - pieceInFile * source_.pieceSize);
    const size_t length = std::min(want, pieceLength_ - inPiece);
    std::memcpy(buffer, piece_.data() + inPiece, length);
    *got = length;
    return SZ_OK;
}

SRes PayloadSourceStream::Read(ISeekInStreamPtr stream, void* buffer, size_t* size)
{
    PayloadSourceStream* self = reinterpret_cast<const Vtable*>(stream)->self;
    const PayloadSource& source = self->source_;
    const uint64_t end = source.ArchiveSize();
    const uint64_t position = self->position_;
    // A short read is allowed; 0 bytes is the end of the archive.
    const size_t want = static_cast<size_t>(std::min<uint64_t>({*size, position < end ? end - position : 0,
                                                                1u << 30}));
    *size = 0;
    if (want == 0)
        return SZ_OK;
    size_t got = 0;
    if (source.Split() && position >= kStartHeaderSize && position < kStartHeaderSize + source.packedSize) {
        const size_t inPacked =
            static_cast<size_t>(std::min<uint64_t>(want, kStartHeaderSize + source.packedSize - position));
        const SRes result =
            self->ReadPacked(position - kStartHeaderSize, static_cast<Byte*>(buffer), inPacked, &got);
        if (result != SZ_OK)
            return result;
    } else {
        // From the image: the start header, the database behind the packed
        // streams, or the whole archive.
        uint64_t inImage = position;
        uint64_t left = want;
        if (source.Split()) {
            if (position < kStartHeaderSize)
                left = std::min<uint64_t>(left, kStartHeaderSize - position);
            else
                inImage = position - source.packedSize;
        }
        DWORD read = 0;
        if (!ReadAt(source.image.file.get(), source.image.offset + inImage, buffer, static_cast<DWORD>(left), &read))
            return SZ_ERROR_READ;
        got = read;
    }
    self->position_ += got;
    *size = got;
    return SZ_OK;
}

SRes PayloadSourceStream::Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin)
{
    PayloadSourceStream* self = reinterpret_cast<const Vtable*>(stream)->self;
    return SeekWithin(&self->position_, self->source_.ArchiveSize(), position, origin);
}
