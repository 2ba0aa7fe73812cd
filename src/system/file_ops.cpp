#include "system/file_ops.h"

#include "system/folder_handles.h"
#include "system/unique_handle.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool HasWildcard(const wchar_t* path) { return std::wcspbrk(path, L"*?") != nullptr; }

// The shell takes lists of paths, each ended by a NUL, the list by a second.
std::wstring PathList(const wchar_t* path)
{
    std::wstring list(path);
    list.push_back(L'\0');
    return list;
}

int RunShellOperation(UINT operation, FILEOP_FLAGS flags, const wchar_t* from, const wchar_t* to)
{
    const std::wstring fromList = PathList(from);
    std::wstring toList;
    if (to)
        toList = PathList(to);
    SHFILEOPSTRUCTW op = {};
    op.hwnd = nullptr;
    op.wFunc = operation;
    op.pFrom = fromList.c_str();
    op.pTo = to ? toList.c_str() : nullptr;
    op.fFlags = flags;
    // The shell's result is the only reason it gives (the thread's last
    // error is not set); it is passed on as one. Its own codes from the
    // days before Win32 errors (0x71 to 0x88, 0x402, 0x10000 and up) say
    // no more than that the operation failed.
    const int result = ::SHFileOperationW(&op);
    if (result == 0 && !op.fAnyOperationsAborted)
        return 1;
    const bool legacy = (result >= 0x71 && result <= 0x88) || result == 0x402 || result >= 0x10000;
    ::SetLastError(result == 0 ? ERROR_CANCELLED : legacy ? ERROR_GEN_FAILURE : static_cast<DWORD>(result));
    return 0;
}

}  // namespace

namespace {

// Resource (id, type) of module where the loader mapped it: false when
// it is missing or cannot be loaded; *data may be null for an empty one.
bool LoadedResource(HMODULE module, int id, const wchar_t* type, const BYTE** data, DWORD* size)
{
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    if (!loaded)
        return false;
    *data = static_cast<const BYTE*>(::LockResource(loaded));
    *size = ::SizeofResource(module, found);
    return true;
}

// Where the bytes at address lie in the file of module's image: false for a
// module loaded as a data file or an address outside the image's sections.
bool ImageFileOffset(HMODULE module, const void* address, DWORD size, LONGLONG* offset)
{
    const auto base = reinterpret_cast<const BYTE*>(module);
    if (!base || (reinterpret_cast<ULONG_PTR>(base) & 3) != 0)
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    const ULONG_PTR rva = static_cast<const BYTE*>(address) - base;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (rva >= section->VirtualAddress && rva + size <= section->VirtualAddress + section->SizeOfRawData) {
            *offset = static_cast<LONGLONG>(section->PointerToRawData) + (rva - section->VirtualAddress);
            return true;
        }
    }
    return false;
}

// Copies the resource's bytes from the module's file instead of from its
// mapped image: every page of an image that is read stays in the working
// set, and a payload of hundreds of megabytes would sit there, on top of
// the block the unpacking holds, for the rest of the installation.
bool CopyFromImageFile(HMODULE module, const void* data, DWORD size, HANDLE target)
{
    LONGLONG offset = 0;
    if (!ImageFileOffset(module, data, size, &offset))
        return false;
    wchar_t image[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, image, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    UniqueFile source(::CreateFileW(image, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER start;
    start.QuadPart = offset;
    if (!source || !::SetFilePointerEx(source.get(), start, nullptr, FILE_BEGIN))
        return false;
    // The file's bytes must be the image's: a file changed since it was
    // loaded is not copied from.
    constexpr DWORD kChunk = 1 << 20;
    std::vector<BYTE> buffer(std::min<DWORD>(kChunk, std::max<DWORD>(size, 1)));
    const BYTE* expected = static_cast<const BYTE*>(data);
    for (DWORD done = 0; done < size;) {
        const DWORD want = std::min<DWORD>(kChunk, size - done);
        DWORD read = 0;
        if (!::ReadFile(source.get(), buffer.data(), want, &read, nullptr) || read != want)
            return false;
        if (done == 0 && std::memcmp(buffer.data(), expected, std::min<DWORD>(want, 4096)) != 0)
            return false;
        DWORD written = 0;
        if (!::WriteFile(target, buffer.data(), want, &written, nullptr) || written != want)
            return false;
        done += want;
    }
    return true;
}

}  // namespace

bool OpenResourceWindow(HMODULE module, int id, const wchar_t* type, ResourceWindow* window)
{
    if (!window || !type || id <= 0 || id > 0xFFFF)
        return false;
    if (!module)
        module = ::GetModuleHandleW(nullptr);
    const BYTE* data = nullptr;
    DWORD size = 0;
    LONGLONG offset = 0;
    if (!LoadedResource(module, id, type, &data, &size) || !data || !ImageFileOffset(module, data, size, &offset))
        return false;
    wchar_t image[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, image, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    UniqueFile file(::CreateFileW(image, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    // The window must hold what was loaded: its first and last pages are
    // compared, which finds a wrong offset without reading the whole
    // resource into the working set.
    constexpr DWORD kPage = 4096;
    BYTE buffer[kPage];
    for (const DWORD at : {DWORD{0}, size > kPage ? size - kPage : DWORD{0}}) {
        const DWORD want = std::min(kPage, size - at);
        OVERLAPPED where{};
        const ULONGLONG position = static_cast<ULONGLONG>(offset) + at;
        where.Offset = static_cast<DWORD>(position);
        where.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD read = 0;
        if (want && (!::ReadFile(file.get(), buffer, want, &read, &where) || read != want ||
                     std::memcmp(buffer, data + at, want) != 0))
            return false;
    }
    window->file = std::move(file);
    window->offset = static_cast<uint64_t>(offset);
    window->size = size;
    return true;
}

bool CopyResourceToHeldFile(HMODULE module, int id, const wchar_t* type, const wchar_t* path,
                            ResourceWindow* window)
{
    if (!window || !path || !type || id <= 0 || id > 0xFFFF)
        return false;
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (!LoadedResource(module, id, type, &data, &size) || !data)
        return false;
    // A new file only: one that is there already may be someone else's link.
    UniqueFile file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    if (!::WriteFile(file.get(), data, size, &written, nullptr) || written != size)
        return false;
    window->file = std::move(file);
    window->offset = 0;
    window->size = size;
    return true;
}

bool ShareResourceWindow(const ResourceWindow& window, ResourceWindow* copy)
{
    if (!copy)
        return false;
    *copy = ResourceWindow();
    HANDLE duplicate = nullptr;
    if (!window.file || !::DuplicateHandle(::GetCurrentProcess(), window.file.get(), ::GetCurrentProcess(),
                                           &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    copy->file.reset(duplicate);
    copy->offset = window.offset;
    copy->size = window.size;
    return true;
}

bool ReadResourceWindow(const ResourceWindow& window,
                        const std::function<bool(const BYTE* data, size_t size)>& consume)
{
    if (!window.file)
        return false;
    constexpr DWORD kPiece = 1 << 20;
    std::vector<BYTE> buffer(static_cast<size_t>(std::min<uint64_t>(kPiece, std::max<uint64_t>(window.size, 1))));
    for (uint64_t done = 0; done < window.size;) {
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kPiece, window.size - done));
        const uint64_t at = window.offset + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD read = 0;
        if (!::ReadFile(window.file.get(), buffer.data(), want, &read, &where) || read != want ||
            !consume(buffer.data(), want))
            return false;
        done += want;
    }
    return true;
}

bool WindowHoldsResource(HMODULE module, int id, const wchar_t* type, const ResourceWindow& window)
{
    if (!type || id <= 0 || id > 0xFFFF)
        return false;
    if (!module)
        module = ::GetModuleHandleW(nullptr);
    const BYTE* expected = nullptr;
    DWORD size = 0;
    if (!LoadedResource(module, id, type, &expected, &size) || !expected || window.size != size)
        return false;
    return ReadResourceWindow(window, [&expected](const BYTE* data, size_t size) {
        const bool same = std::memcmp(data, expected, size) == 0;
        // Unlocking pages that are not locked takes them out of the working
        // set: the image's copy of the payload is not kept there once seen.
        ::VirtualUnlock(const_cast<BYTE*>(expected), size);
        expected += size;
        return same;
    });
}

int WriteResourceToFile(HMODULE module, const wchar_t* path, int id, const wchar_t* type)
{
    if (!path || !type || id <= 0 || id > 0xFFFF)
        return 0;
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (!LoadedResource(module, id, type, &data, &size) || (!data && size != 0))
        return 0;
    UniqueFile file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 0;
    if (CopyFromImageFile(module ? module : ::GetModuleHandleW(nullptr), data, size, file.get()))
        return 1;
    // Otherwise from memory, in one piece, from the start of the file again.
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file.get(), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get()))
        return 0;
    DWORD written = 0;
    if (!::WriteFile(file.get(), data, size, &written, nullptr) || written != size)
        return 0;
    return 1;
}

int FileExists(const wchar_t* path)
{
    if (!path)
        return 0;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW(path, &data));
    return find ? 1 : 0;
}

int IsDirectory(const wchar_t* path)
{
    if (!path)
        return 0;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW(path, &data));
    return find && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int PathExists(const wchar_t* path)
{
    if (!path || std::wcslen(path) >= MAX_PATH)
        return 0;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW(path, &data));
    if (!find)
        return 0;
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return length != 0 && length < MAX_PATH ? 1 : 0;
}

int DeletePath(const wchar_t* path)
{
    // A wildcard would make the shell delete every match.
    if (!path || HasWildcard(path) || std::wcslen(path) >= MAX_PATH)
        return 0;
    if (!PathExists(path))
        return 1;
    // Not the shell's delete: it descends into junctions and deletes
    // through links, and the folders deleted here may be a user's.
    return DeleteTree(path) ? 1 : 0;
}

int RenamePath(const wchar_t* newPath, const wchar_t* existingPath)
{
    if (!newPath || !existingPath || HasWildcard(newPath) || HasWildcard(existingPath))
        return 0;
    if (!PathExists(existingPath))
        return 0;
    // Not the shell's rename: through a handle on the entry itself, so a
    // link put in its place is moved as a link, and never what it names.
    return MoveEntry(existingPath, newPath) ? 1 : 0;
}

int CopyPath(const wchar_t* destination, const wchar_t* source)
{
    if (!destination || !source || HasWildcard(destination) || HasWildcard(source))
        return 0;
    if (!PathExists(source))
        return 0;
    return RunShellOperation(FO_COPY, FOF_NOCONFIRMATION, source, destination);
}

int CreateFolderTree(const wchar_t* path)
{
    if (!path)
        return 0;
    if (PathExists(path))
        return 1;
    return ::SHCreateDirectoryExW(nullptr, path, nullptr) == ERROR_SUCCESS ? 1 : 0;
}

bool ForEachChild(const std::wstring& folder, const std::function<bool(const WIN32_FIND_DATAW&)>& visit)
{
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find)
        return false;
    do {
        if (::lstrcmpW(data.cFileName, L".") == 0 || ::lstrcmpW(data.cFileName, L"..") == 0)
            continue;
        if (!visit(data))
            break;
    } while (::FindNextFileW(find.get(), &data));
    return true;
}
