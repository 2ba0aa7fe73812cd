// uninst.exe, the uninstaller of every installation this installer makes:
// removes what the installer made for the installation it lies in.
//
//   uninst.exe [/S]
//
// /S is silent: no question, no message at the end, and the user data file
// stays. Otherwise the user is asked once whether to remove the product,
// then whether to keep the user data file (kept unless the user says no),
// and told the outcome.
//
// Its resource INI 138 is the configuration of the product it belongs to
// (make-installer stores the product's own there): where it lies in the
// installation (OBJ_IN_UNINSTALL_EXE), the main program (OBJ_IN_EXE) and the
// user data file (OBJ_IN_USERDATA_FILE). The rest comes from what the
// installation left:
//   - the registration: each entry under HKLM's Uninstall key whose
//     UninstallString names this program (case ignored). The entry's key name
//     is the product's display name, which is also the program group's name.
//     Without one the installation is not removed: the path comes on the
//     command line from whoever started the copy, and only an entry (which
//     only an administrator can write) makes it an installation;
//   - the program group: the folder of that name in the user's Start-menu
//     Programs folder, removed with everything in it;
//   - desktop shortcuts: every .lnk on the user's desktop whose target lies in
//     the installation folder (the shortcut's own name is not needed);
//   - the installation folder: the folder holding this program at the place
//     the configuration names, with everything in it but the user data file
//     when it is kept, never following a link out of it. The installer's own
//     guards apply: a drive root, a system or user folder, or a folder
//     without the product's main program is refused and nothing is removed.
//
// A running program cannot delete its own file, so the copy in the
// installation folder only asks, then starts a copy of itself from a folder
// of its own with /_from=<its own path> and /_keep=<0 or 1> and waits for it
// (see hand_over.h). Both end with the copy's outcome, so a script running
// "uninst.exe /S" learns how the removal ended, and the system's list of
// programs is read again only once it has: 0 when everything was removed,
// 1 when something was left, 2 when the folder was refused (nothing
// removed), 3 when the program carries no configuration.
#include "config/config.h"
#include "config/install_folder.h"
#include "framework/safe_loading.h"
#include "system/folder_handles.h"
#include "system/paths.h"
#include "system/shortcuts.h"
#include "system/uninstall.h"
#include "system/unique_handle.h"
#include "uninstall/hand_over.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kCaption[] = L"卸载程序";

struct Options {
    bool silent = false;
    bool keepUserData = true;
    std::wstring from;        // the original uninstaller's path; empty in the original
    HANDLE wait = nullptr;    // the original's process, inherited
    HANDLE report = nullptr;  // the pipe the original reads the outcome from, inherited
};

HANDLE HandleArgument(const wchar_t* text)
{
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(text, nullptr, 10)));
}

Options ParseOptions()
{
    Options options;
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!args)
        return options;
    for (int i = 1; i < count; ++i) {
        const wchar_t* arg = args[i];
        if (::lstrcmpiW(arg, L"/S") == 0)
            options.silent = true;
        else if (::_wcsnicmp(arg, L"/_from=", 7) == 0)
            options.from = arg + 7;
        else if (::lstrcmpiW(arg, L"/_keep=0") == 0)
            options.keepUserData = false;
        else if (::_wcsnicmp(arg, L"/_wait=", 7) == 0)
            options.wait = HandleArgument(arg + 7);
        else if (::_wcsnicmp(arg, L"/_report=", 9) == 0)
            options.report = HandleArgument(arg + 9);
    }
    ::LocalFree(args);
    return options;
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
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

struct Registration {
    std::wstring keyName;      // the display name, and the program group's name
    std::wstring displayName;  // as shown to the user
};

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

bool RemoveDesktopShortcuts(const std::wstring& installFolder)
{
    const std::wstring desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
    if (desktop.empty())
        return true;
    bool removed = true;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW((desktop + L"\\*.lnk").c_str(), &data));
    if (!find)
        return true;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::wstring link = desktop + L"\\" + data.cFileName;
        ShortcutInfo shortcut;
        if (!ReadShortcut(link, &shortcut) || shortcut.target.empty() ||
            !IsInsideFolder(LongPathOf(shortcut.target), installFolder))
            continue;
        if (DeleteTree(link))
            ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, link.c_str(), nullptr);
        else
            removed = false;
    } while (::FindNextFileW(find.get(), &data));
    return removed;
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

// What the uninstaller knows of its product, from its own configuration.
struct Product {
    std::wstring displayName;
    std::wstring uninstaller;  // relative to the installation folder
    std::wstring mainProgram;  // relative to the installation folder
    std::wstring userDataFile; // relative to the installation folder
};

bool ReadProduct(Product* product)
{
    // The configuration comes out of the program's own resource, through
    // the installer's readers; the copy goes again at once.
    if (!WriteConfigFile())
        return false;
    product->displayName = ReadSetting(kKeyDisplayName);
    product->uninstaller = ReadSetting(kKeyUninstallExe);
    product->mainProgram = ReadSetting(kKeyExe);
    product->userDataFile = ReadSetting(kKeyUserDataFile);
    DeleteConfigFile();
    RemoveRunFolder();
    for (std::wstring* path : {&product->uninstaller, &product->mainProgram, &product->userDataFile})
        std::replace(path->begin(), path->end(), L'/', L'\\');
    return !product->mainProgram.empty();
}

// The installation folder of the uninstaller at path: the folder it lies in
// at the place the configuration names (tools\Uninstall.exe lies one level
// down), or the folder it lies in when it has another name.
std::wstring InstallFolderOf(const std::wstring& path, const Product& product)
{
    const std::wstring tail = L"\\" + product.uninstaller;
    if (!product.uninstaller.empty() && path.size() > tail.size() &&
        SameText(std::wstring_view(path).substr(path.size() - tail.size()), tail))
        return path.substr(0, path.size() - tail.size());
    return FolderOf(path);
}

std::wstring ProductName(const std::vector<Registration>& registrations, const Product& product)
{
    if (!registrations.empty())
        return registrations.front().displayName;
    return product.displayName.empty() ? std::wstring(L"本程序") : product.displayName;
}

// How the removal ended: the exit code, and what the user is told.
struct Outcome {
    int code = 0;
    std::wstring message;
    UINT icon = MB_ICONINFORMATION;
};

// The copy, outside the installation folder: everything is removed from here.
Outcome RemoveInstallation(const Options& options, Original* original)
{
    Product product;
    if (!ReadProduct(&product))
        return {3, L"卸载程序缺少产品的配置信息，未删除任何内容。", MB_ICONERROR};
    // An installation the system's list of programs names by this path, and
    // the installer's own guards: never a drive root or a folder of the
    // system or the user, and only a folder that holds the product.
    const std::vector<Registration> registrations = FindRegistrations(options.from);
    const std::wstring installFolder = NormalizeInstallDir(LongPathOf(InstallFolderOf(options.from, product)));
    if (registrations.empty() || installFolder.empty() || IsProtectedFolder(installFolder) ||
        ClassifyInstallFolder(installFolder, product.mainProgram) != FolderState::EarlierInstall)
        return {2, installFolder + L" 不是本程序的安装文件夹，卸载程序未删除任何内容。", MB_ICONERROR};
    const std::wstring keep =
        options.keepUserData && !product.userDataFile.empty() ? JoinPath(installFolder, product.userDataFile) : L"";

    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool complete = RemoveDesktopShortcuts(installFolder);
    for (const Registration& registration : registrations) {
        complete = RemoveGroupNamed(registration.keyName) && complete;
        complete = RemoveRegistration(registration.keyName) && complete;
    }
    complete = original->StepAside(options.from, installFolder) && complete;
    complete = DeleteTreePatiently(installFolder, keep) && complete;
    ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, installFolder.c_str(), nullptr);
    if (SUCCEEDED(com))
        ::CoUninitialize();
    if (!complete)
        return {1, L"部分项目未能删除，请手动删除：\r\n" + installFolder, MB_ICONWARNING};
    return {0, ProductName(registrations, product) + L" 已从您的电脑中删除。", MB_ICONINFORMATION};
}

// The copy in the installation folder: ask, hand over to a copy of itself
// outside the folder and wait for its outcome.
int HandOver(const Options& options)
{
    const std::wstring self = ModulePath();
    bool keepUserData = true;
    if (!options.silent) {
        Product product;
        ReadProduct(&product);
        const std::wstring question =
            L"确定要从您的电脑中完全删除 " + ProductName(FindRegistrations(self), product) + L" 及其所有组件吗？";
        if (::MessageBoxW(nullptr, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
            return 0;
        // Scores, settings, saved games: kept unless the user says otherwise.
        const std::wstring userData = product.userDataFile.empty()
                                          ? std::wstring()
                                          : JoinPath(InstallFolderOf(self, product), product.userDataFile);
        if (!userData.empty() && ::GetFileAttributesW(userData.c_str()) != INVALID_FILE_ATTRIBUTES) {
            const std::wstring keepQuestion = L"是否保留您的用户数据文件？\r\n" + userData +
                                              L"\r\n选择“是”保留该文件，选择“否”将其一并删除。";
            keepUserData = ::MessageBoxW(nullptr, keepQuestion.c_str(), kCaption,
                                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDNO;
        }
    }
    std::wstring arguments = L"\"/_from=" + self + L"\"";
    if (options.silent)
        arguments += L" /S";
    arguments += keepUserData ? L" /_keep=1" : L" /_keep=0";
    return RunCopy(self, arguments);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything can load a DLL by name: the copy runs elevated from
    // the temporary folder, and the original from a folder users may be
    // able to write to.
    framework::RestrictDllSearchToSystemFolder();
    const Options options = ParseOptions();
    if (options.from.empty())
        return HandOver(options);
    Original original(options.wait, options.report);
    const bool handedOver = original.IsWaiting();
    const Outcome outcome = RemoveInstallation(options, &original);
    // The original ends with the outcome before the user has read it.
    original.Report(outcome.code);
    if (!options.silent)
        ::MessageBoxW(nullptr, outcome.message.c_str(), kCaption, MB_OK | outcome.icon);
    RemoveCopyAtRestart(ModulePath(), handedOver);
    return outcome.code;
}
