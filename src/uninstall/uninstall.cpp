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
//     is the product's display name, which is also the program group's name;
//     without one, the configured display name names the group;
//   - the program group: the folder of that name in the user's Start-menu
//     Programs folder, removed with everything in it;
//   - desktop shortcuts: every .lnk on the user's desktop whose target lies in
//     the installation folder (the shortcut's own name is not needed);
//   - the installation folder: the folder holding this program at the place
//     the configuration names, with everything in it but the user data file
//     when it is kept. The installer's own guards apply: a drive root, a
//     system or user folder, or a folder without the product's main program
//     is refused and nothing is removed.
//
// A running program cannot delete its own file, so the copy in the
// installation folder only asks, copies itself to the temporary folder and
// starts that copy with /_from=<its own path>, /_keep=<0 or 1> and
// /_wait=<an inherited handle of its own process>, then ends. The copy waits
// for it to end, removes everything, and leaves itself to be deleted at the
// next restart. Exit code of the copy: 0 when everything was removed, 1 when
// something was left, 2 when the folder was refused, 3 when the program
// carries no configuration.
#include "config/config.h"
#include "engine/install_folder.h"
#include "system/file_ops.h"
#include "system/shortcuts.h"
#include "system/uninstall.h"
#include "system/unique_handle.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kCaption[] = L"卸载程序";

struct Options {
    bool silent = false;
    bool keepUserData = true;
    std::wstring from;      // the original uninstaller's path; empty in the original
    HANDLE wait = nullptr;  // the original's process, inherited
};

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
            options.wait = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(arg + 7, nullptr, 10)));
    }
    ::LocalFree(args);
    return options;
}

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The same file under whatever spelling it was reached by (short names,
// case): the long form, or the path itself when that cannot be had.
std::wstring LongPath(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD length = ::GetLongPathNameW(path.c_str(), buffer, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(buffer, length) : path;
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Whether path is folder itself or lies anywhere below it.
bool IsInside(const std::wstring& path, const std::wstring& folder)
{
    if (path.size() < folder.size())
        return false;
    if (::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                               static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL)
        return false;
    return path.size() == folder.size() || path[folder.size()] == L'\\';
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
    const std::wstring target = LongPath(uninstaller);
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
        if (program.empty() || !SamePath(LongPath(program), target))
            continue;
        std::wstring display = ReadString(entry.get(), L"DisplayName");
        found.push_back({name, display.empty() ? std::wstring(name) : display});
    }
    return found;
}

// Deletes a file or a folder tree, read-only entries included, but not the
// file keep (nor the folders on its way). True when nothing else is left.
bool DeleteTree(const std::wstring& path, const std::wstring& keep = {})
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (!keep.empty() && SamePath(path, keep))
        return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    // A link or junction is removed itself, never followed.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ::DeleteFileW(path.c_str()) != 0;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ForEachChild(path, [&](const WIN32_FIND_DATAW& data) {
            DeleteTree(path + L"\\" + data.cFileName, keep);
            return true;
        });
    }
    if (!keep.empty() && IsInside(keep, path) && ::GetFileAttributesW(keep.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;  // the kept file is inside: this folder stays for it
    return ::RemoveDirectoryW(path.c_str()) != 0;
}

// The program that first opened a file of the folder may hold it a moment
// longer than its process handle says (the loader, a virus scanner): try a
// few times.
bool DeleteTreePatiently(const std::wstring& path, const std::wstring& keep)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (DeleteTree(path, keep))
            return true;
        ::Sleep(250);
    }
    return false;
}

std::wstring ShortcutTarget(const std::wstring& linkPath)
{
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return {};
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) ||
        FAILED(file->Load(linkPath.c_str(), STGM_READ)))
        return {};
    wchar_t target[MAX_PATH] = {};
    if (link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH) != S_OK)
        return {};
    return target;
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
        const std::wstring target = ShortcutTarget(link);
        if (target.empty() || !IsInside(LongPath(target), installFolder))
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
        ::CompareStringOrdinal(path.c_str() + path.size() - tail.size(), -1, tail.c_str(), -1, TRUE) == CSTR_EQUAL)
        return path.substr(0, path.size() - tail.size());
    return FolderOf(path);
}

std::wstring ProductName(const std::vector<Registration>& registrations, const Product& product)
{
    if (!registrations.empty())
        return registrations.front().displayName;
    return product.displayName.empty() ? std::wstring(L"本程序") : product.displayName;
}

// The copy in the temporary folder: everything is removed from here.
int RemoveInstallation(const Options& options)
{
    if (options.wait) {
        ::WaitForSingleObject(options.wait, 30000);
        ::CloseHandle(options.wait);
    }
    Product product;
    if (!ReadProduct(&product)) {
        if (!options.silent)
            ::MessageBoxW(nullptr, L"卸载程序缺少产品的配置信息，未删除任何内容。", kCaption, MB_OK | MB_ICONERROR);
        return 3;
    }
    // The installer's own guards: never a drive root or a folder of the
    // system or the user, and only a folder that holds the product.
    const std::wstring installFolder = NormalizeInstallDir(LongPath(InstallFolderOf(options.from, product)));
    if (installFolder.empty() || IsProtectedFolder(installFolder) ||
        ClassifyInstallFolder(installFolder, product.mainProgram) != FolderState::EarlierInstall) {
        if (!options.silent)
            ::MessageBoxW(nullptr, (installFolder + L" 不是本程序的安装文件夹，卸载程序未删除任何内容。").c_str(),
                          kCaption, MB_OK | MB_ICONERROR);
        return 2;
    }
    const std::wstring keep =
        options.keepUserData && !product.userDataFile.empty() ? JoinPath(installFolder, product.userDataFile) : L"";

    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<Registration> registrations = FindRegistrations(options.from);
    bool complete = RemoveDesktopShortcuts(installFolder);
    if (registrations.empty())
        complete = RemoveGroupNamed(product.displayName) && complete;
    for (const Registration& registration : registrations) {
        complete = RemoveGroupNamed(registration.keyName) && complete;
        complete = RemoveRegistration(registration.keyName) && complete;
    }
    complete = DeleteTreePatiently(installFolder, keep) && complete;
    ::SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, installFolder.c_str(), nullptr);
    if (SUCCEEDED(com))
        ::CoUninitialize();

    if (!options.silent) {
        const std::wstring name = ProductName(registrations, product);
        const std::wstring text =
            complete ? name + L" 已从您的电脑中删除。" : L"部分项目未能删除，请手动删除：\r\n" + installFolder;
        ::MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK | (complete ? MB_ICONINFORMATION : MB_ICONWARNING));
    }
    return complete ? 0 : 1;
}

// A fresh file name for the copy in the temporary folder.
std::wstring CopyToTemp(const std::wstring& self)
{
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return {};
    for (unsigned n = 0; n < 100; ++n) {
        const std::wstring copy = std::wstring(temp) + L"~uninst" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                                  std::to_wstring(n) + L".exe";
        if (::CopyFileW(self.c_str(), copy.c_str(), TRUE))
            return copy;
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

// The copy in the installation folder: ask, hand over to a copy of itself
// outside the folder, and end so that the folder can go.
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
    const std::wstring copy = CopyToTemp(self);
    if (copy.empty())
        return 1;
    HANDLE process = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &process, SYNCHRONIZE,
                           TRUE, 0))
        return 1;
    UniqueHandle ownProcess(process);
    std::wstring commandLine =
        L"\"" + copy + L"\" \"/_from=" + self + L"\" /_wait=" + std::to_wstring(reinterpret_cast<uintptr_t>(process));
    if (options.silent)
        commandLine += L" /S";
    commandLine += keepUserData ? L" /_keep=1" : L" /_keep=0";
    // The copy works from the temporary folder: a current folder inside the
    // installation would keep it from being deleted.
    const std::wstring workFolder = FolderOf(copy);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, workFolder.c_str(),
                          &startup, &info)) {
        ::DeleteFileW(copy.c_str());
        return 1;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const Options options = ParseOptions();
    if (options.from.empty())
        return HandOver(options);
    const int result = RemoveInstallation(options);
    // Nothing can delete a running program's file; the system does it at
    // the next restart (the uninstaller runs elevated, as it must for HKLM).
    ::MoveFileExW(ModulePath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return result;
}
