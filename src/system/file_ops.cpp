#include "system/file_ops.h"

#include "system/unique_handle.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <string>

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
    return ::SHFileOperationW(&op) == 0 ? 1 : 0;
}

}  // namespace

int WriteResourceToFile(HMODULE module, const wchar_t* path, int id, const wchar_t* type)
{
    if (!path || !type || id <= 0 || id > 0xFFFF)
        return 0;
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found)
        return 0;
    HGLOBAL loaded = ::LoadResource(module, found);
    if (!loaded)
        return 0;
    const void* data = ::LockResource(loaded);
    const DWORD size = ::SizeofResource(module, found);
    if (!data && size != 0)
        return 0;
    UniqueFile file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
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
    if (!path || HasWildcard(path))
        return 0;
    if (!PathExists(path))
        return 1;
    return RunShellOperation(FO_DELETE, FOF_SILENT | FOF_NOCONFIRMATION, path, nullptr);
}

int RenamePath(const wchar_t* newPath, const wchar_t* existingPath)
{
    if (!newPath || !existingPath || HasWildcard(newPath) || HasWildcard(existingPath))
        return 0;
    if (!PathExists(existingPath))
        return 0;
    return RunShellOperation(FO_RENAME, FOF_SILENT | FOF_NOCONFIRMATION, existingPath, newPath);
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
