#include "system/file_ops.h"

#include "system/folder_handles.h"
#include "system/unique_handle.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool HasWildcard(const wchar_t* path) { return std::wcspbrk(path, L"*?") != nullptr; }

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
    // A wildcard names no one entry, and PathExists would find any match.
    if (!path || HasWildcard(path) || std::wcslen(path) >= MAX_PATH)
        return 0;
    if (!PathExists(path))
        return 1;
    // Through handles, never the shell's delete: that descends into
    // junctions and deletes through links, and these folders may be a user's.
    return DeleteTree(path) ? 1 : 0;
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
