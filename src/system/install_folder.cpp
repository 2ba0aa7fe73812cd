#include "system/install_folder.h"

#include "system/file_ops.h"
#include "system/paths.h"
#include "system/unique_handle.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cwctype>
#include <vector>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring TrimTrailingSeparators(std::wstring path)
{
    while (!path.empty() && IsSeparator(path.back()))
        path.pop_back();
    return path;
}

std::vector<std::wstring> SystemFolders()
{
    std::vector<std::wstring> folders;
    const int kCsidls[] = {CSIDL_WINDOWS,      CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_COMMON_APPDATA,
                           CSIDL_PROFILE,      CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY,
                           CSIDL_PERSONAL,     CSIDL_COMMON_DOCUMENTS, CSIDL_SYSTEM};
    for (const int csidl : kCsidls) {
        wchar_t path[MAX_PATH];
        if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
            folders.push_back(path);
    }
    PWSTR downloads = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &downloads)))
        folders.push_back(downloads);
    ::CoTaskMemFree(downloads);
    for (auto& folder : folders)
        folder = TrimTrailingSeparators(LongPathOf(folder));
    return folders;
}

}  // namespace

bool IsDevicePathForm(const std::wstring& path)
{
    // \\?\ and \??\ pass names to the system unchecked, \\.\ names devices:
    // the guards below compare names and would not see what they reach.
    return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[3]) &&
           ((IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.')) || (path[1] == L'?' && path[2] == L'?'));
}

std::wstring NormalizeInstallDir(const std::wstring& stored)
{
    if (IsDevicePathForm(stored))
        return {};
    const bool drivePath = stored.size() >= 3 && std::iswalpha(stored[0]) && stored[1] == L':' && IsSeparator(stored[2]);
    const bool uncPath = stored.size() >= 3 && IsSeparator(stored[0]) && IsSeparator(stored[1]);
    if (!drivePath && !uncPath)
        return {};
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(stored.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return TrimTrailingSeparators(std::wstring(full, length));
}

bool IsProtectedFolder(const std::wstring& folder)
{
    const std::wstring path = TrimTrailingSeparators(LongPathOf(folder));
    // A drive root ("D:") or a share's root ("\\server\share").
    if (path.size() <= 2)
        return true;
    if (path.starts_with(L"\\\\") && path.find(L'\\', path.find(L'\\', 2) + 1) == std::wstring::npos)
        return true;
    for (const auto& system : SystemFolders()) {
        if (system.empty())
            continue;
        if (SameText(path, system))
            return true;
        // The folder lies above a system folder.
        if (system.size() > path.size() && system[path.size()] == L'\\' &&
            SameText(path, system.substr(0, path.size())))
            return true;
    }
    return false;
}

namespace {

// Whether folder holds nothing but the file at relative (and the folders on
// its way to it).
bool HoldsOnly(const std::wstring& folder, const std::wstring& relative)
{
    const size_t slash = relative.find_first_of(L"\\/");
    const std::wstring first = relative.substr(0, slash);
    bool found = false;
    bool other = false;
    const bool listed = ForEachChild(folder, [&](const WIN32_FIND_DATAW& data) {
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (first.empty() || !SameText(data.cFileName, first) ||
            (slash == std::wstring::npos ? isFolder
                                         : !isFolder || !HoldsOnly(folder + L"\\" + data.cFileName,
                                                                   relative.substr(slash + 1)))) {
            other = true;
            return false;
        }
        found = true;
        return true;
    });
    return listed && !other && found;
}

}  // namespace

FolderState ClassifyInstallFolder(const std::wstring& folder, const std::wstring& mainProgram,
                                  const std::wstring& userDataFile)
{
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FolderState::Absent;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FolderState::Foreign;
    if (!mainProgram.empty()) {
        const DWORD program = ::GetFileAttributesW(JoinPath(folder, mainProgram).c_str());
        if (program != INVALID_FILE_ATTRIBUTES && !(program & FILE_ATTRIBUTE_DIRECTORY))
            return FolderState::EarlierInstall;
    }
    // What an uninstallation leaves when the user keeps the user data file:
    // the next installation carries it over as from any earlier one.
    if (!userDataFile.empty() && HoldsOnly(folder, userDataFile))
        return FolderState::EarlierInstall;
    bool empty = true;
    const bool listed = ForEachChild(folder, [&](const WIN32_FIND_DATAW&) { return empty = false; });
    return listed && empty ? FolderState::Empty : FolderState::Foreign;
}

bool HasFileInUse(const std::wstring& folder, std::wstring* blocked)
{
    bool inUse = false;
    ForEachChild(folder, [&](const WIN32_FIND_DATAW& data) {
        const std::wstring path = folder + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            inUse = !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && HasFileInUse(path, blocked);
            return !inUse;
        }
        // No sharing at all: the open fails while any other handle is open.
        UniqueFile probe(::CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!probe) {
            if (blocked)
                *blocked = path;
            inUse = true;
        }
        return !inUse;
    });
    return inUse;
}
