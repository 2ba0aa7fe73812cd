#include "system/shell_user.h"

#include <shlobj.h>
#include <knownfolders.h>

namespace {

// ERROR_ELEVATION_REQUIRED, which mingw's headers lack.
constexpr DWORD kElevationRequired = 740;

using CreateEnvironmentBlockFunction = BOOL(WINAPI*)(void**, HANDLE, BOOL);
using DestroyEnvironmentBlockFunction = BOOL(WINAPI*)(void*);

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// userenv is not a Known DLL, so it stays out of the import table and comes
// from the system folder by its full path, never through a search.
HMODULE UserEnvironmentLibrary()
{
    static const HMODULE library = [] {
        const std::wstring system = SystemFolder();
        return system.empty() ? nullptr : ::LoadLibraryW((system + L"\\userenv.dll").c_str());
    }();
    return library;
}

// The player's environment as a logon would build it, nothing of this
// process's inherited; freed through userenv on destruction.
class PlayerEnvironment {
public:
    explicit PlayerEnvironment(HANDLE token)
    {
        HMODULE library = UserEnvironmentLibrary();
        auto create = library ? reinterpret_cast<CreateEnvironmentBlockFunction>(
                                    reinterpret_cast<void*>(::GetProcAddress(library, "CreateEnvironmentBlock")))
                              : nullptr;
        destroy_ = library ? reinterpret_cast<DestroyEnvironmentBlockFunction>(
                                 reinterpret_cast<void*>(::GetProcAddress(library, "DestroyEnvironmentBlock")))
                           : nullptr;
        if (create && destroy_ && !create(&block_, token, FALSE))
            block_ = nullptr;
    }
    ~PlayerEnvironment()
    {
        if (block_)
            destroy_(block_);
    }
    PlayerEnvironment(const PlayerEnvironment&) = delete;
    PlayerEnvironment& operator=(const PlayerEnvironment&) = delete;

    void* get() const { return block_; }

private:
    void* block_ = nullptr;
    DestroyEnvironmentBlockFunction destroy_ = nullptr;
};

DWORD ShellProcessId()
{
    DWORD id = 0;
    if (HWND shell = ::GetShellWindow())
        ::GetWindowThreadProcessId(shell, &id);
    return id;
}

bool OpenTokenOf(DWORD processId, UniqueHandle* token)
{
    UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    return process && ::OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE, token->put());
}

// Another account's shell (the administrator's password was typed for a
// standard account) admits an administrator only with SeDebugPrivilege:
// enabled on this thread's own copy of the process token, for the open
// alone, so nothing else this process does runs with it.
bool OpenTokenWithDebugPrivilege(DWORD processId, UniqueHandle* token)
{
    if (!::ImpersonateSelf(SecurityImpersonation))
        return false;
    auto revert = ScopeExit([] { ::RevertToSelf(); });
    UniqueHandle thread;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES, TRUE, thread.put()) ||
        !::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid) ||
        !::AdjustTokenPrivileges(thread.get(), FALSE, &privileges, 0, nullptr, nullptr) ||
        ::GetLastError() != ERROR_SUCCESS)
        return false;
    return OpenTokenOf(processId, token);
}

std::wstring CommandLineFor(const std::wstring& program) { return L"\"" + program + L"\""; }

// 0 when started, else the reason (kElevationRequired for a program
// whose manifest asks for an administrator).
DWORD CreateWithToken(HANDLE token, const std::wstring& application, std::wstring commandLine,
                      const std::wstring& workingFolder)
{
    const PlayerEnvironment environment(token);
    if (!environment.get())
        return ERROR_ENVVAR_NOT_FOUND;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessWithTokenW(token, 0, application.c_str(), commandLine.data(), CREATE_UNICODE_ENVIRONMENT,
                                   environment.get(), workingFolder.empty() ? nullptr : workingFolder.c_str(),
                                   &startup, &info))
        return ::GetLastError() ? ::GetLastError() : ERROR_GEN_FAILURE;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return 0;
}

// The player's own rundll32 hands target to the shell's ShellExecute, in the
// player's process: what the player's double-click or Run box would do.
bool ShellExecuteAsPlayer(HANDLE token, const std::wstring& target, const std::wstring& workingFolder)
{
    const std::wstring system = SystemFolder();
    if (system.empty())
        return false;
    const std::wstring rundll = system + L"\\rundll32.exe";
    return CreateWithToken(token, rundll, CommandLineFor(rundll) + L" shell32.dll,ShellExec_RunDLL " + target,
                           workingFolder.empty() ? system : workingFolder) == 0;
}

}  // namespace

bool OpenShellUserToken(UniqueHandle* token)
{
    const DWORD id = ShellProcessId();
    if (id == 0)
        return false;
    UniqueHandle shellToken;
    if (!OpenTokenOf(id, &shellToken) && !OpenTokenWithDebugPrivilege(id, &shellToken))
        return false;
    // The shell of the moment: a process that took the number of one that
    // has just ended is not the player.
    if (ShellProcessId() != id)
        return false;
    return ::DuplicateTokenEx(shellToken.get(),
                              TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_ASSIGN_PRIMARY |
                                  TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
                              nullptr, SecurityImpersonation, TokenPrimary, token->put()) != FALSE;
}

std::wstring PlayerFolderPath(PlayerFolder folder, bool* fromShell)
{
    UniqueHandle token;
    const bool shell = OpenShellUserToken(&token);
    if (fromShell)
        *fromShell = shell;
    const KNOWNFOLDERID& id = folder == PlayerFolder::kDesktop ? FOLDERID_Desktop : FOLDERID_Programs;
    PWSTR path = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, token.get(), &path);
    std::wstring found = SUCCEEDED(result) && path ? std::wstring(path) : std::wstring();
    ::CoTaskMemFree(path);
    // A folder the profile names but that is not there is not made here:
    // that would be a Start menu of the installer's own.
    const DWORD attributes = found.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(found.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        found.clear();
    return found;
}

PlayerStart StartForPlayer(const std::wstring& program, const std::wstring& workingFolder)
{
    UniqueHandle token;
    if (program.empty() || !OpenShellUserToken(&token))
        return PlayerStart::kNotStarted;
    const DWORD failure = CreateWithToken(token.get(), program, CommandLineFor(program), workingFolder);
    if (failure == 0)
        return PlayerStart::kDirect;
    // CreateProcess never asks for elevation; the player's ShellExecute does.
    if (failure == kElevationRequired &&
        ShellExecuteAsPlayer(token.get(), CommandLineFor(program), workingFolder))
        return PlayerStart::kThroughShellExecute;
    return PlayerStart::kNotStarted;
}

bool OpenAddressForPlayer(const std::wstring& address)
{
    UniqueHandle token;
    return !address.empty() && OpenShellUserToken(&token) && ShellExecuteAsPlayer(token.get(), address, {});
}
