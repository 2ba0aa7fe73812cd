#include "system/shortcuts.h"

#include "system/folder_handles.h"
#include "system/paths.h"
#include "system/shell_user.h"
#include "system/unique_handle.h"

#include <objbase.h>
#include <objidl.h>
#include <shobjidl.h>

#include <algorithm>

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

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The link as the shell's link object saves it, made in memory: the file
// is written by this program, in a folder it holds, and the link object
// never opens a path in the player's folders.
bool ShortcutBytes(const wchar_t* target, const wchar_t* arguments, std::string* bytes)
{
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
        return false;
    if (FAILED(link->SetPath(target)))
        return false;
    // The program starts in its own folder, as a game that loads its files
    // relative to the working folder needs; without one the shell would
    // start it wherever the shell itself stands.
    const std::wstring targetPath(target);
    if (const std::wstring folder = ParentOf(targetPath); !folder.empty()) {
        if (FAILED(link->SetWorkingDirectory(folder.c_str())))
            return false;
    }
    if (arguments && FAILED(link->SetArguments(arguments)))
        return false;
    ComPtr<IPersistStream> persist;
    ComPtr<IStream> stream;
    HGLOBAL memory = nullptr;
    STATSTG stat{};
    if (FAILED(link->QueryInterface(IID_IPersistStream, persist.put_void())) ||
        FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) || FAILED(persist->Save(stream.get(), TRUE)) ||
        FAILED(::GetHGlobalFromStream(stream.get(), &memory)) || FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
        return false;
    const char* data = static_cast<const char*>(::GlobalLock(memory));
    if (!data)
        return false;
    bytes->assign(data, static_cast<size_t>(stat.cbSize.QuadPart));
    ::GlobalUnlock(memory);
    return true;
}

// Puts the link at path, in the held folder that path names, in one step:
// written under a fresh name there and renamed over whatever file or link
// is at path (a link replaced itself, never written through), then tells
// the shell. An entry that cannot be replaced (in use, a folder) fails.
bool WriteShortcutAt(const HeldFolder& folder, const std::wstring& path, const wchar_t* target,
                     const wchar_t* arguments)
{
    // A path cut to fit would name another file than the one asked for.
    if (path.empty() || path.size() >= MAX_PATH)
        return false;
    std::string bytes;
    if (!ShortcutBytes(target, arguments, &bytes) || !WriteChildFileReplacing(folder, NameOf(path), bytes))
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
    // A path cut to fit would save the link under another name and report
    // success for a file nobody asked for.
    if (!target || !linkPath || lstrlenW(linkPath) >= MAX_PATH)
        return 0;
    std::string bytes;
    return ShortcutBytes(target, arguments, &bytes) && WriteFileReplacing(linkPath, bytes) ? 1 : 0;
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
    return WriteShortcutAt(desktop, path, target, arguments);
}

bool CreateProgramGroup(HWND owner, const wchar_t* group)
{
    if (ProgramGroupFolder(owner, group).empty())
        return false;
    // Each level made through the one above, from the Programs folder on:
    // a level that is a link (the group would put the links wherever it
    // points) or a file fails.
    std::wstring relative(group);
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    HeldFolder programs;
    HeldFolder made;
    return OpenFolderNoFollow(PlayerFolderPath(PlayerFolder::kPrograms), kShareAll, &programs) &&
           OpenFolderBelow(programs, relative, true, kShareAll, &made);
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
    return WriteShortcutAt(folder, GroupShortcutPath(owner, group, name), target, arguments);
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
