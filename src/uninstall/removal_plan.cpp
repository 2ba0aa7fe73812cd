#include "uninstall/removal_plan.h"

#include "config/config.h"
#include "system/install_folder.h"
#include "system/folder_handles.h"
#include "system/install_record.h"
#include "system/held_tree.h"
#include "system/paths.h"
#include "system/shell_user.h"
#include "system/shortcuts.h"
#include "system/uninstall.h"
#include "system/unique_handle.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>

namespace {

std::wstring ReadString(HKEY key, const wchar_t* name)
{
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return {};
    text.resize(::wcsnlen(text.c_str(), size / sizeof(wchar_t)));
    return text;
}

// A command as Add/Remove Programs would run it: quoted or not, maybe
// followed by arguments we do not care about.
std::wstring CommandProgram(const std::wstring& command)
{
    if (!command.empty() && command[0] == L'"') {
        const size_t end = command.find(L'"', 1);
        return command.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    }
    return command;
}

bool IsLinkInto(const std::wstring& link, const std::wstring& installFolder)
{
    ShortcutInfo shortcut;
    return ReadShortcut(link, &shortcut) && !shortcut.target.empty() &&
           IsInsideFolder(LongPathOf(shortcut.target), installFolder);
}

std::vector<std::wstring> DesktopShortcutsInto(const std::wstring& installFolder)
{
    std::vector<std::wstring> links;
    // Where the installer made the link: the player's desktop, not the one
    // of the token this copy runs with.
    const std::wstring desktop = PlayerFolderPath(PlayerFolder::kDesktop);
    if (desktop.empty())
        return links;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW((desktop + L"\\*.lnk").c_str(), &data));
    if (!find)
        return links;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::wstring link = desktop + L"\\" + data.cFileName;
        if (IsLinkInto(link, installFolder))
            links.push_back(link);
    } while (::FindNextFileW(find.get(), &data));
    return links;
}

bool IsPlainName(const std::wstring& name)
{
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

// The program group at folder: its links into the installation go, then
// the group itself once nothing else is in it. What the player put there
// stays, and the group with it; nothing is reached through a link.
bool RemoveGroupAt(const std::wstring& folder, const std::wstring& installFolder)
{
    HeldFolder group;
    if (folder.empty())
        return true;
    if (!OpenFolderNoFollow(folder, FILE_SHARE_READ | FILE_SHARE_WRITE, &group))
        return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
    std::vector<FolderEntry> entries;
    bool removed = ListFolder(group, &entries);
    for (const FolderEntry& entry : entries) {
        if (!(entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            entry.name.size() > 4 && SameText(entry.name.substr(entry.name.size() - 4), L".lnk") &&
            IsLinkInto(JoinPath(folder, entry.name), installFolder))
            removed = DeleteChild(group, entry.name) && removed;
    }
    group = HeldFolder();
    bool kept = false;
    return (DeleteFolderIfEmpty(folder, &kept) || kept) && removed;
}

// The program group of the entry's name, when the name can only be a
// folder directly in the Programs folder.
bool RemoveGroupNamed(const std::wstring& group, const std::wstring& installFolder)
{
    return !IsPlainName(group) || RemoveGroupAt(ProgramGroupFolder(nullptr, group.c_str()), installFolder);
}

bool RemoveRegistration(const std::wstring& keyName)
{
    const std::wstring path = UninstallKeyPath(keyName);
    if (path.empty() || !IsPlainName(keyName))
        return false;
    DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
    UniqueKey left;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, left.put()) != ERROR_SUCCESS;
}

constexpr DWORD kAnySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The recorded files and then the recorded folders, once empty; a folder
// the player put where the product had a file stays. True when nothing of
// the product is left.
bool RemoveRecorded(const RemovalPlan& plan)
{
    HeldFolder root;
    if (!OpenFolderNoFollow(plan.installFolder, FILE_SHARE_READ | FILE_SHARE_WRITE, &root))
        return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
    HeldTree tree(root, kAnySharing);
    bool removed = true;
    for (const std::wstring& file : plan.files) {
        if (!plan.keep.empty() && SameText(JoinPath(plan.installFolder, file), plan.keep))
            continue;
        std::wstring name;
        const HeldFolder* held = tree.FolderOf(file, &name);
        if (!held)
            continue;  // gone with its folder, or no plain folder of ours
        const HeldFolder& folder = *held;
        UniqueFile entry;
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!OpenChild(folder, name, FILE_READ_ATTRIBUTES, kAnySharing, kFileOpen, 0, &entry)) {
            removed = removed && ::GetLastError() == ERROR_FILE_NOT_FOUND;
            continue;
        }
        if (!::GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &tag, sizeof(tag)))
            tag.FileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
        entry.reset();
        const bool plainFolder = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                 !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (!plainFolder)
            removed = DeleteChild(folder, name) && removed;
    }
    for (auto it = plan.folders.rbegin(); it != plan.folders.rend(); ++it) {
        // Let go first: a hold on the folder would keep it.
        tree.Release(*it);
        std::wstring name;
        if (const HeldFolder* folder = tree.FolderOf(*it, &name))
            removed = RemoveChildFolderIfEmpty(*folder, name) && removed;
    }
    return removed;
}

// The installation folder itself, once nothing is left in it.
void RemoveFolderIfEmpty(const std::wstring& folder)
{
    const std::wstring parent = ParentOf(folder);
    HeldFolder held;
    if (!parent.empty() && OpenFolderNoFollow(parent, kAnySharing, &held))
        RemoveChildFolderIfEmpty(held, NameOf(folder));
}

}  // namespace

std::vector<Registration> FindRegistrations(const std::wstring& uninstaller)
{
    std::vector<Registration> found;
    UniqueKey root;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, root.put()) != ERROR_SUCCESS)
        return found;
    const std::wstring target = LongPathOf(uninstaller);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        const LONG result = ::RegEnumKeyExW(root.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            continue;
        UniqueKey entry;
        if (::RegOpenKeyExW(root.get(), name, 0, KEY_READ, entry.put()) != ERROR_SUCCESS)
            continue;
        const std::wstring program = CommandProgram(ReadString(entry.get(), L"UninstallString"));
        if (program.empty() || !SameText(LongPathOf(program), target))
            continue;
        std::wstring display = ReadString(entry.get(), L"DisplayName");
        found.push_back({name, display.empty() ? std::wstring(name) : display});
    }
    return found;
}

std::wstring InstallFolderOf(const std::wstring& path, const ProductSettings& product)
{
    const std::wstring tail = L"\\" + product.uninstaller;
    if (!product.uninstaller.empty() && path.size() > tail.size() &&
        SameText(std::wstring_view(path).substr(path.size() - tail.size()), tail))
        return path.substr(0, path.size() - tail.size());
    return ParentOf(path);
}

bool PlanRemoval(const ProductSettings& product, const std::wstring& uninstaller, bool keepUserData,
                 RemovalPlan* plan, RemovalOutcome* refusal)
{
    *plan = RemovalPlan{};
    if (product.mainProgram.empty()) {
        *refusal = RemovalOutcome::NoConfiguration;
        return false;
    }
    // An installation the system's list of programs names by this path, and
    // the installer's own guards: never a drive root or a folder of the
    // system or the user, and only a folder that holds the product.
    plan->uninstaller = uninstaller;
    plan->registrations = FindRegistrations(uninstaller);
    plan->installFolder = NormalizeInstallDir(LongPathOf(InstallFolderOf(uninstaller, product)));
    if (plan->registrations.empty() || plan->installFolder.empty() || IsProtectedFolder(plan->installFolder) ||
        ClassifyInstallFolder(plan->installFolder, product.mainProgram) != FolderState::EarlierInstall) {
        *refusal = RemovalOutcome::FolderRefused;
        return false;
    }
    if (keepUserData && !product.userDataFile.empty()) {
        plan->keep = JoinPath(plan->installFolder, product.userDataFile);
        std::replace(plan->keep.begin(), plan->keep.end(), L'/', L'\\');
    }
    plan->desktopShortcuts = DesktopShortcutsInto(plan->installFolder);
    plan->recordPath = InstallRecordPath(plan->registrations.front().keyName);
    InstallRecord record;
    if (!plan->recordPath.empty() && ReadInstallRecord(plan->recordPath, plan->installFolder, &record)) {
        plan->recorded = true;
        for (InstalledFile& file : record.files)
            plan->files.push_back(std::move(file.name));
        plan->folders = std::move(record.folders);
        // Where the installation made them, which may be another user's
        // profile than this program's: only a link into the folder, and
        // only a group of the entry's name.
        const std::wstring& link = record.desktopLink;
        if (link.size() > 4 && SameText(link.substr(link.size() - 4), L".lnk") && IsLinkInto(link, plan->installFolder) &&
            std::find_if(plan->desktopShortcuts.begin(), plan->desktopShortcuts.end(), [&](const std::wstring& found) {
                return SameText(found, link);
            }) == plan->desktopShortcuts.end())
            plan->desktopShortcuts.push_back(link);
        const std::wstring& group = record.programGroup;
        const std::wstring& keyName = plan->registrations.front().keyName;
        if (group.size() > keyName.size() + 1 && SameText(group.substr(group.size() - keyName.size()), keyName) &&
            group[group.size() - keyName.size() - 1] == L'\\' && !IsProtectedFolder(group))
            plan->recordedGroup = group;
    }
    return true;
}

RemovalOutcome CarryOut(const RemovalPlan& plan, Original* original, bool* folderKept)
{
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool complete = true;
    for (const std::wstring& link : plan.desktopShortcuts) {
        // Through the folders above, none a link: a desktop swapped for a
        // link to an administrators' folder has nothing deleted in it.
        if (DeleteFileNoFollow(link))
            ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, link.c_str(), nullptr);
        else
            complete = false;
    }
    for (const Registration& registration : plan.registrations) {
        complete = RemoveGroupNamed(registration.keyName, plan.installFolder) && complete;
        complete = RemoveRegistration(registration.keyName) && complete;
    }
    if (!plan.recordedGroup.empty())
        complete = RemoveGroupAt(plan.recordedGroup, plan.installFolder) && complete;
    complete = original->StepAside(plan.uninstaller, plan.installFolder) && complete;
    if (plan.recorded) {
        const bool filesRemoved = RemovePatiently([&] { return RemoveRecorded(plan); });
        complete = filesRemoved && complete;
        RemoveFolderIfEmpty(plan.installFolder);
        // What stays is the player's: a record of no files says so to the
        // next installation into the folder, which then takes it for an
        // earlier one of its own instead of someone else's. Should files of
        // the product be left, the record still lists them.
        if (filesRemoved && ::GetFileAttributesW(plan.installFolder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            complete = DeleteInstallRecord(plan.recordPath) && complete;
        } else if (filesRemoved) {
            InstallRecord left;
            left.installDir = plan.installFolder;
            complete = WriteInstallRecord(plan.recordPath, left) && complete;
        }
    }
    ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, plan.installFolder.c_str(), nullptr);
    if (folderKept)
        *folderKept = ::GetFileAttributesW(plan.installFolder.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (SUCCEEDED(com))
        ::CoUninitialize();
    return complete ? RemovalOutcome::Removed : RemovalOutcome::SomethingLeft;
}
