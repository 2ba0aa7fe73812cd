#include "uninstall/removal_plan.h"

#include "config/config.h"
#include "system/install_folder.h"
#include "system/folder_handles.h"
#include "system/paths.h"
#include "system/shell_user.h"
#include "system/shortcuts.h"
#include "system/uninstall.h"
#include "system/unique_handle.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

namespace {

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

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
        ShortcutInfo shortcut;
        if (ReadShortcut(link, &shortcut) && !shortcut.target.empty() &&
            IsInsideFolder(LongPathOf(shortcut.target), installFolder))
            links.push_back(link);
    } while (::FindNextFileW(find.get(), &data));
    return links;
}

bool IsPlainName(const std::wstring& name)
{
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

// The program group through the installer's own service, when the name
// can only be a folder directly in the Programs folder.
bool RemoveGroupNamed(const std::wstring& group)
{
    return !IsPlainName(group) || RemoveProgramGroup(nullptr, group.c_str());
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
    return FolderOf(path);
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
    if (keepUserData && !product.userDataFile.empty())
        plan->keep = JoinPath(plan->installFolder, product.userDataFile);
    plan->desktopShortcuts = DesktopShortcutsInto(plan->installFolder);
    return true;
}

RemovalOutcome CarryOut(const RemovalPlan& plan, Original* original)
{
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool complete = true;
    for (const std::wstring& link : plan.desktopShortcuts) {
        if (DeleteTree(link))
            ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, link.c_str(), nullptr);
        else
            complete = false;
    }
    for (const Registration& registration : plan.registrations) {
        complete = RemoveGroupNamed(registration.keyName) && complete;
        complete = RemoveRegistration(registration.keyName) && complete;
    }
    complete = original->StepAside(plan.uninstaller, plan.installFolder) && complete;
    complete = DeleteTreePatiently(plan.installFolder, plan.keep) && complete;
    ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, plan.installFolder.c_str(), nullptr);
    if (SUCCEEDED(com))
        ::CoUninitialize();
    return complete ? RemovalOutcome::Removed : RemovalOutcome::SomethingLeft;
}
