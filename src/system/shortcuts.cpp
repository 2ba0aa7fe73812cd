#include "system/shortcuts.h"

#include "system/file_ops.h"
#include "system/folder_handles.h"
#include "system/paths.h"
#include "system/shell_user.h"
#include "system/unique_handle.h"

#include <objbase.h>
#include <shobjidl.h>

namespace {

// One level or a few levels of folder names below the Programs folder. An
// empty name would make the group the Programs folder itself, and "..", a
// drive or a leading backslash a folder outside it: removing such a "group"
// would delete the user's other programs' shortcuts or worse.
bool IsUsableGroupName(const std::wstring& group)
{
    if (group.empty() || group.find(L':') != std::wstring::npos)
        return false;
    size_t start = 0;
    while (true) {
        const size_t end = group.find_first_of(L"\\/", start);
        const std::wstring part = group.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        // Windows drops trailing dots and spaces, so "..." or ". " climb too.
        if (part.find_first_not_of(L". ") == std::wstring::npos)
            return false;
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

// Replaces whatever link file is at path, then tells the shell.
bool WriteShortcutAt(const std::wstring& path, const wchar_t* target, const wchar_t* arguments)
{
    if (path.empty())
        return false;
    // Whatever is there goes first, a link itself rather than its target,
    // so the save makes a new file; one that cannot be deleted (in use, or
    // a link this system cannot remove) fails the step.
    if (!DeleteTree(path))
        return false;
    if (!CreateShortcut(target, path.c_str(), arguments))
        return false;
    return NotifyShellCreated(kShortcutCreatedEvent, path.c_str()) == 1;
}

}  // namespace

std::wstring ProgramGroupFolder(HWND, const wchar_t* group)
{
    if (!group || !IsUsableGroupName(group))
        return {};
    const std::wstring programs = PlayerFolderPath(PlayerFolder::kPrograms);
    if (programs.empty())
        return {};
    std::wstring folder = programs + L"\\" + group;
    if (folder.size() >= MAX_PATH)
        return {};
    return folder;
}

int CreateShortcut(const wchar_t* target, const wchar_t* linkPath, const wchar_t* arguments)
{
    if (!target || !linkPath)
        return 0;
    // A path cut to fit would save the link under another name and report
    // success for a file nobody asked for.
    if (lstrlenW(linkPath) >= MAX_PATH)
        return 0;
    const HRESULT init = ::CoInitialize(nullptr);
    // Only a successful CoInitialize is ours to undo: on a thread already in
    // the multithreaded apartment it fails, and uninitialising anyway would
    // pull COM from under the thread's owner.
    auto uninit = ScopeExit([] { ::CoUninitialize(); });
    if (FAILED(init))
        uninit.release();

    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.put_void())))
        return 0;
    if (FAILED(link->SetPath(target)))
        return 0;
    // The program starts in its own folder, as a game that loads its files
    // relative to the working folder needs; without one the shell would
    // start it wherever the shell itself stands.
    const std::wstring targetPath(target);
    if (const std::wstring folder = ParentOf(targetPath); !folder.empty()) {
        if (FAILED(link->SetWorkingDirectory(folder.c_str())))
            return 0;
    }
    if (arguments && FAILED(link->SetArguments(arguments)))
        return 0;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())))
        return 0;
    return SUCCEEDED(file->Save(linkPath, TRUE)) ? 1 : 0;
}

std::wstring DesktopShortcutPath(const wchar_t* name)
{
    if (!name)
        return {};
    const std::wstring folder = PlayerFolderPath(PlayerFolder::kDesktop);
    if (folder.empty())
        return {};
    return folder + L"\\" + name + L".lnk";
}

std::wstring GroupShortcutPath(HWND owner, const wchar_t* group, const wchar_t* name)
{
    if (!name)
        return {};
    const std::wstring folder = ProgramGroupFolder(owner, group);
    if (folder.empty())
        return {};
    return folder + L"\\" + name + L".lnk";
}

int NotifyShellCreated(LONG event, const wchar_t* path)
{
    if (!path)
        return 0;
    ::SHChangeNotify(event, SHCNF_PATHW | SHCNF_FLUSH, path, nullptr);
    const std::wstring text(path);
    ::SHChangeNotify(SHCNE_UPDATEDIR | SHCNE_INTERRUPT, SHCNF_PATHW | SHCNF_FLUSH, ParentOf(text).c_str(), nullptr);
    return 1;
}

bool CreateDesktopShortcut(const wchar_t* target, const wchar_t* name, const wchar_t* arguments)
{
    if (!target || !name)
        return false;
    // Held as the group is while the link is written into it: a desktop
    // folder that is a link, or lies below one, takes none.
    const std::wstring path = DesktopShortcutPath(name);
    const std::wstring folder = ParentOf(path);
    HeldFolder desktop;
    if (folder.empty() || !OpenFolderNoFollow(folder, FILE_SHARE_READ | FILE_SHARE_WRITE, &desktop))
        return false;
    return WriteShortcutAt(path, target, arguments);
}

bool CreateProgramGroup(HWND owner, const wchar_t* group)
{
    const std::wstring folder = ProgramGroupFolder(owner, group);
    if (folder.empty() || CreateFolderTree(folder.c_str()) != 1)
        return false;
    // A group that is a link would put the links wherever it points.
    HeldFolder made;
    return OpenFolderNoFollow(folder, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &made);
}

bool CreateGroupShortcut(HWND owner, const wchar_t* target, const wchar_t* group, const wchar_t* name,
                         const wchar_t* arguments)
{
    if (!target || !group || !name)
        return false;
    // Held, and so neither renamed nor replaced by a link, while the link
    // is written into it; a group that is a link itself takes none.
    HeldFolder folder;
    if (!OpenFolderNoFollow(ProgramGroupFolder(owner, group), FILE_SHARE_READ | FILE_SHARE_WRITE, &folder))
        return false;
    return WriteShortcutAt(GroupShortcutPath(owner, group, name), target, arguments);
}

bool RemoveProgramGroup(HWND owner, const wchar_t* group)
{
    const std::wstring folder = ProgramGroupFolder(owner, group);
    if (folder.empty() || !PathExists(folder.c_str()))
        return true;
    return DeletePath(folder.c_str()) == 1;
}

bool ReadShortcut(const std::wstring& path, ShortcutInfo* info)
{
    const HRESULT init = ::CoInitialize(nullptr);
    auto uninit = ScopeExit([] { ::CoUninitialize(); });
    if (FAILED(init))
        uninit.release();
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(path.c_str(), STGM_READ)))
        return false;
    ShortcutInfo read;
    UniqueItemIdList items;
    wchar_t text[MAX_PATH] = {};
    if (SUCCEEDED(link->GetIDList(items.put())) && items && ::SHGetPathFromIDListW(items.get(), text))
        read.target = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetArguments(text, MAX_PATH)))
        read.arguments = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)))
        read.workingFolder = text;
    *info = std::move(read);
    return true;
}
