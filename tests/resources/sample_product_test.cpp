// The sample product's programs, run for real: the main program's marker
// and window, and the installer's uninstaller (which the sample carries) on
// an installation laid out by hand with the installer's own shortcut and
// registry services.
#include "resources/sample_paths.h"
#include "support/test_support.h"
#include "system/install_record.h"
#include "system/shortcuts.h"
#include "system/uninstall.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr DWORD kDeadlineMs = 30000;

struct Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
    ~Process()
    {
        if (handle) {
            if (::WaitForSingleObject(handle, 0) == WAIT_TIMEOUT)
                ::TerminateProcess(handle, 99);
            ::CloseHandle(handle);
        }
    }
    DWORD WaitForExit() const
    {
        if (::WaitForSingleObject(handle, kDeadlineMs) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD code = 0;
        ::GetExitCodeProcess(handle, &code);
        return code;
    }
};

void Start(Process& process, const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &info))
        << ::GetLastError();
    ::CloseHandle(info.hThread);
    process.handle = info.hProcess;
    process.id = info.dwProcessId;
}

// The first visible top-level window of the process with the class name.
HWND FindProcessWindow(DWORD processId, const wchar_t* className)
{
    struct Search {
        DWORD processId;
        const wchar_t* className;
        HWND found;
    } search = {processId, className, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM lParam) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lParam);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            wchar_t name[64] = {};
            ::GetClassNameW(window, name, 64);
            if (owner == s->processId && ::IsWindowVisible(window) && ::lstrcmpW(name, s->className) == 0) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The names directly in a folder.
std::vector<std::wstring> EntriesOf(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (::lstrcmpW(data.cFileName, L".") != 0 && ::lstrcmpW(data.cFileName, L"..") != 0)
            names.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

// ---------------------------------------------------------------- Marvane --

class MainProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = scratch_.Join(L"游戏 目录");
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
        program_ = folder_ + L"\\Marvane.exe";
        ASSERT_TRUE(::CopyFileW((std::wstring(kProductFolder) + L"\\Marvane.exe").c_str(), program_.c_str(), TRUE));
    }

    std::string Marker() const
    {
        const std::wstring path = folder_ + L"\\run-marker.txt";
        return Exists(path) ? ReadBytes(path) : std::string();
    }

    ScratchDir scratch_;
    std::wstring folder_;
    std::wstring program_;
};

TEST_F(MainProgram, RecordsEachStartAndClosesItselfWhenAsked)
{
    {
        Process process;
        Start(process, program_, L"-tp:1 -autoclose:200");
        EXPECT_EQ(process.WaitForExit(), 0u);
    }
    // The finish page starts the program without arguments: the delay then
    // comes from the environment, which the program inherits.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"MARVANE_AUTOCLOSE_MS", L"200"));
    {
        Process process;
        Start(process, program_, L"");
        EXPECT_EQ(process.WaitForExit(), 0u);
    }
    ::SetEnvironmentVariableW(L"MARVANE_AUTOCLOSE_MS", nullptr);

    std::string quoted = WideToUtf8(program_);
    quoted.insert(quoted.begin(), '"');
    quoted.push_back('"');
    EXPECT_EQ(Marker(), quoted + " -tp:1 -autoclose:200\r\n" + quoted + "\r\n");
}

TEST_F(MainProgram, StaysOpenUntilClosed)
{
    Process process;
    Start(process, program_, L"-tp:1");
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindProcessWindow(process.id, L"MarvaneSampleWindow")) != nullptr; }));
    EXPECT_EQ(WindowText(window), L"Marvane 修复");  // the repair argument is understood
    EXPECT_EQ(::WaitForSingleObject(process.handle, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(process.WaitForExit(), 0u);
    EXPECT_NE(Marker().find(" -tp:1\r\n"), std::string::npos);
}

// ------------------------------------------------------------ uninst.exe --

// An installation as the installer leaves it, under a name of the test's
// own: the product folder, the desktop shortcut, the program group with its
// two shortcuts and the registration.
class Uninstaller : public ::testing::Test {
protected:
    static constexpr const wchar_t* kName = L"样品卸载测试";

    void SetUp() override
    {
        TearDown();
        folder_ = scratch_.Join(L"安装 目录");
        // The product's files, with the record an installation of it leaves.
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
        InstallRecord record;
        record.installDir = folder_;
        for (const auto& [name, bytes] : ReadTree(kProductFolder)) {
            if (bytes == "<dir>") {
                ASSERT_TRUE(::CreateDirectoryW((folder_ + L"\\" + name).c_str(), nullptr));
                record.folders.push_back(name);
            } else {
                WriteBytes(folder_ + L"\\" + name, bytes);
                record.files.push_back({name, bytes.size(), {}});
            }
        }
        ASSERT_TRUE(WriteInstallRecord(InstallRecordPath(kName), record));
        // A read-only file of the player's, which stays.
        WriteBytes(folder_ + L"\\logs\\today.log", "played\r\n");
        ::SetFileAttributesW((folder_ + L"\\logs\\today.log").c_str(), FILE_ATTRIBUTE_READONLY);
        main_ = folder_ + L"\\Marvane.exe";
    }

    void TearDown() override
    {
        ::DeleteFileW(DesktopShortcutPath(kName).c_str());
        RemoveTree(ProgramGroupFolder(nullptr, kName));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKeyPath(kName));
        DeleteInstallRecord(InstallRecordPath(kName));
    }

    void MakeShortcutsAndGroup()
    {
        ASSERT_TRUE(CreateDesktopShortcut(main_.c_str(), kName, nullptr));
        ASSERT_TRUE(CreateProgramGroup(nullptr, kName));
        ASSERT_TRUE(CreateGroupShortcut(nullptr, main_.c_str(), kName, kName, nullptr));
        ASSERT_TRUE(CreateGroupShortcut(nullptr, main_.c_str(), kName, L"强力修复", L"-tp:1"));
    }

    void Register(const std::wstring& keyName, const std::wstring& uninstallString)
    {
        RegKey key;
        ASSERT_TRUE(key.RecreateKey(HKEY_LOCAL_MACHINE, UninstallKeyPath(keyName)));
        ASSERT_TRUE(key.SetString(L"DisplayName", keyName.c_str()));
        ASSERT_TRUE(key.SetString(L"DisplayIcon", (main_ + L",-0").c_str()));
        ASSERT_TRUE(key.SetString(L"UninstallString", uninstallString.c_str()));
    }

    static bool KeyExists(const std::wstring& keyName)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyPath(keyName).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        return true;
    }

    std::wstring GroupFolder() const
    {
        wchar_t programs[MAX_PATH] = {};
        ::SHGetSpecialFolderPathW(nullptr, programs, CSIDL_PROGRAMS, FALSE);
        return std::wstring(programs) + L"\\" + kName;
    }

    // Runs the uninstaller from the installation folder, as the system's
    // list of programs does; it hands over to a copy and ends with the
    // copy's outcome.
    void RunUninstaller(const std::wstring& arguments, Process& process)
    {
        Start(process, folder_ + L"\\uninst.exe", arguments);
    }

    ScratchDir scratch_;
    std::wstring folder_;
    std::wstring main_;
};

TEST_F(Uninstaller, RemovesTheFolderShortcutsGroupAndRegistration)
{
    MakeShortcutsAndGroup();
    Register(kName, folder_ + L"\\uninst.exe");
    // Someone else's: a desktop shortcut to elsewhere and an entry of another
    // program, both of which stay.
    const std::wstring otherName = std::wstring(kName) + L" 其他";
    ASSERT_TRUE(CreateDesktopShortcut(scratch_.Join(L"other.exe").c_str(), otherName.c_str(), nullptr));
    Register(otherName, scratch_.Join(L"other\\uninst.exe"));

    Process process;
    RunUninstaller(L"/S", process);
    EXPECT_EQ(process.WaitForExit(), 0u);
    // Silent keeps the user data file and the player's files, and nothing
    // else of the folder.
    const std::wstring desktopLink = DesktopShortcutPath(kName);
    const std::wstring userData = folder_ + L"\\UserSetting.ini";
    EXPECT_TRUE(WaitUntil([&] {
        return !Exists(folder_ + L"\\Marvane.exe") && !Exists(folder_ + L"\\uninst.exe") && !Exists(desktopLink) &&
               !Exists(GroupFolder()) && !KeyExists(kName);
    })) << "left: program " << Exists(folder_ + L"\\Marvane.exe") << ", desktop " << Exists(desktopLink)
        << ", group " << Exists(GroupFolder()) << ", entry " << KeyExists(kName);
    EXPECT_TRUE(Exists(userData));
    std::vector<std::wstring> left = EntriesOf(folder_);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::wstring>{L"UserSetting.ini", L"logs"}));
    EXPECT_EQ(ReadBytes(folder_ + L"\\logs\\today.log"), "played\r\n");

    EXPECT_TRUE(Exists(DesktopShortcutPath(otherName.c_str())));
    EXPECT_TRUE(KeyExists(otherName));
    ::DeleteFileW(DesktopShortcutPath(otherName.c_str()).c_str());
    DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKeyPath(otherName));
}

// Asked, the user confirms and then declines to keep the user data file:
// everything of the product goes, the player's log stays with its folder,
// and the last box says where.
TEST_F(Uninstaller, AskedRemovesTheUserDataFileWhenNotKept)
{
    MakeShortcutsAndGroup();
    Register(kName, folder_ + L"\\uninst.exe");

    Process process;
    RunUninstaller(L"", process);
    for (const int answer : {IDYES, IDNO}) {
        HWND question = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (question = FindProcessWindow(process.id, L"#32770")) != nullptr; }));
        ::SendMessageW(::GetDlgItem(question, answer), BM_CLICK, 0, 0);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(question); }));
    }
    EXPECT_EQ(process.WaitForExit(), 0u);
    // The copy that does the work says when it is done.
    HWND done = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (done = ::FindWindowW(L"#32770", L"卸载程序")) != nullptr; }));
    EXPECT_NE(WindowText(::GetDlgItem(done, 0xFFFF)).find(folder_), std::wstring::npos);
    ::SendMessageW(::GetDlgItem(done, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !KeyExists(kName); }));
    EXPECT_EQ(EntriesOf(folder_), std::vector<std::wstring>{L"logs"});
}

TEST_F(Uninstaller, AnsweredNoRemovesNothing)
{
    MakeShortcutsAndGroup();
    Register(kName, folder_ + L"\\uninst.exe");

    Process process;
    RunUninstaller(L"", process);
    HWND question = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (question = FindProcessWindow(process.id, L"#32770")) != nullptr; }));
    EXPECT_EQ(WindowText(question), L"卸载程序");
    ::SendMessageW(::GetDlgItem(question, IDNO), BM_CLICK, 0, 0);
    EXPECT_EQ(process.WaitForExit(), 0u);

    EXPECT_TRUE(Exists(folder_ + L"\\uninst.exe"));
    EXPECT_TRUE(Exists(DesktopShortcutPath(kName)));
    EXPECT_TRUE(Exists(GroupFolder()));
    EXPECT_TRUE(KeyExists(kName));
}

}  // namespace
