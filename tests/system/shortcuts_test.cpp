// Shortcuts in the prefix's real desktop and Programs folders, read back
// through IShellLinkW. Each test uses names of its own.
#include "system/shell_user.h"
#include "system/shortcuts.h"
#include "system/unique_handle.h"
#include "support/test_support.h"

#include <objbase.h>
#include <knownfolders.h>
#include <shobjidl.h>

#include <thread>
#include <utility>

using namespace testing_support;

// user32 exports it; mingw's headers do not declare it.
extern "C" BOOL WINAPI SetShellWindow(HWND window);

namespace {

// Target and arguments, and the file's own flag for arguments, which is set
// for empty ones too; then the working folder after " in ".
std::wstring ReadLink(const std::wstring& path)
{
    ShortcutInfo link;
    ReadShortcut(path, &link);
    const std::string bytes = ReadBytes(path);
    const bool flagged = bytes.size() > 0x14 && (bytes[0x14] & 0x20);
    return link.target + (flagged ? L" | " + link.arguments : L"") + L" in " + link.workingFolder;
}

std::wstring ProgramsFolder()
{
    wchar_t folder[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAMS, FALSE);
    return folder;
}

class ShortcutsTest : public ::testing::Test {
protected:
    ShortcutsTest()
    {
        WriteBytes(exe, "MZ");
        ::DeleteFileW(DesktopShortcutPath(name.c_str()).c_str());
        RemoveTree(ProgramGroupFolder(nullptr, name.c_str()));
    }
    ~ShortcutsTest() override
    {
        ::DeleteFileW(DesktopShortcutPath(name.c_str()).c_str());
        RemoveTree(ProgramGroupFolder(nullptr, name.c_str()));
    }

    ScratchDir scratch;
    std::wstring name = L"服务测试 " + Utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::wstring exe = scratch.Join(L"Marvane.exe");
};

TEST_F(ShortcutsTest, ShortcutsReplaceWhatIsThereItselfAndStartInTheirProgramsFolder)
{
    const std::wstring desktop = DesktopShortcutPath(name.c_str());
    ASSERT_TRUE(desktop.ends_with(L"\\" + name + L".lnk"));
    WriteBytes(scratch.Join(L"Old.exe"), "MZ");
    ASSERT_TRUE(CreateDesktopShortcut(scratch.Join(L"Old.exe").c_str(), name.c_str(), nullptr));
    // The player made the link's name a second name of a file only
    // administrators may change: the name is replaced, the file untouched.
    const std::wstring secret = scratch.Join(L"secret.bin");
    WriteBytes(secret, "the administrators' bytes");
    ASSERT_TRUE(::DeleteFileW(desktop.c_str()));
    ASSERT_TRUE(::CreateHardLinkW(desktop.c_str(), secret.c_str(), nullptr));
    ASSERT_TRUE(CreateDesktopShortcut(exe.c_str(), name.c_str(), L""));
    EXPECT_EQ(exe + L" |  in " + scratch.path(), ReadLink(desktop));
    EXPECT_EQ(ReadBytes(secret), "the administrators' bytes");

    ASSERT_TRUE(CreateProgramGroup(nullptr, name.c_str()));
    EXPECT_TRUE(CreateProgramGroup(nullptr, name.c_str()));
    ASSERT_TRUE(CreateGroupShortcut(nullptr, exe.c_str(), name.c_str(), L"主程序", nullptr));
    ASSERT_TRUE(CreateGroupShortcut(nullptr, exe.c_str(), name.c_str(), L"强力修复", L"-tp:1"));
    const std::wstring group = ProgramsFolder() + L"\\" + name;
    EXPECT_EQ(exe + L" in " + scratch.path(), ReadLink(group + L"\\主程序.lnk"));
    EXPECT_EQ(exe + L" | -tp:1 in " + scratch.path(), ReadLink(group + L"\\强力修复.lnk"));
    // A program at a drive's root starts in the root itself.
    ASSERT_EQ(CreateShortcut(L"C:\\Marvane.exe", (group + L"\\root.lnk").c_str(), nullptr), 1);
    EXPECT_EQ(L"C:\\Marvane.exe in C:\\", ReadLink(group + L"\\root.lnk"));
}

TEST_F(ShortcutsTest, FoldersAreThePlayersWhenAShellRunsElseOurOwn)
{
    // Wine runs no shell window: first none, then this test's own window
    // becomes the desktop's shell, and its process's token names the player.
    HWND shell = nullptr;
    for (const bool withShell : {false, true}) {
        SCOPED_TRACE(withShell ? "shell" : "no shell");
        if (withShell) {
            shell = ::CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
            ASSERT_TRUE(SetShellWindow(shell));
        }
        ASSERT_EQ(::GetShellWindow() != nullptr, withShell);
        UniqueHandle token;
        EXPECT_EQ(OpenShellUserToken(&token), withShell);
        for (const auto& [folder, id] : {std::pair{PlayerFolder::kDesktop, FOLDERID_Desktop},
                                         std::pair{PlayerFolder::kPrograms, FOLDERID_Programs}}) {
            PWSTR expected = nullptr;
            ASSERT_TRUE(SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, token.get(), &expected)));
            bool fromShell = !withShell;
            EXPECT_EQ(PlayerFolderPath(folder, &fromShell), expected);
            EXPECT_EQ(fromShell, withShell);
            const std::wstring made = folder == PlayerFolder::kDesktop ? DesktopShortcutPath(name.c_str())
                                                                       : ProgramGroupFolder(nullptr, name.c_str());
            EXPECT_TRUE(made.starts_with(std::wstring(expected) + L"\\")) << made;
            ::CoTaskMemFree(expected);
        }
    }
    ::DestroyWindow(shell);
}

TEST_F(ShortcutsTest, GroupNamesThatLeaveTheirOwnFolderAreRefused)
{
    // Each would make the "group" the Programs folder or one above it, and
    // removing it would take every other program's shortcuts.
    const std::wstring other = ProgramsFolder() + L"\\" + name + L".txt";
    WriteBytes(other, "another program's");
    for (const wchar_t* group : {L"", L"..", L"a\\..\\..", L"...", L"\\", L"C:\\Temp", L"a\\"}) {
        EXPECT_FALSE(CreateProgramGroup(nullptr, group)) << group;
        EXPECT_EQ(L"", GroupShortcutPath(nullptr, group, L"x")) << group;
    }
    EXPECT_TRUE(Exists(other));
    ::DeleteFileW(other.c_str());
}

TEST_F(ShortcutsTest, CreateShortcutRefusesPathsItWouldHaveToCut)
{
    const std::wstring tooLong = scratch.Join(std::wstring(MAX_PATH - scratch.path().size() - 5, L'n') + L".lnk");
    ASSERT_EQ(size_t{MAX_PATH}, tooLong.size());
    EXPECT_EQ(0, CreateShortcut(exe.c_str(), tooLong.c_str(), nullptr));
    EXPECT_EQ(1u, ReadTree(scratch.path()).size());  // the exe alone
}

TEST_F(ShortcutsTest, CreateShortcutLeavesTheCallersApartmentAlone)
{
    // On a thread in the multithreaded apartment CoInitialize fails; undoing
    // it anyway would end COM under the thread's owner.
    bool created = false, comStillUp = false;
    std::thread([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        created = CreateShortcut(exe.c_str(), scratch.Join(L"mta.lnk").c_str(), nullptr) == 1;
        ComPtr<IShellLinkW> link;
        comStillUp = SUCCEEDED(
            ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()));
        link.reset();
        ::CoUninitialize();
    }).join();
    EXPECT_TRUE(created);
    EXPECT_TRUE(comStillUp);
}

}  // namespace
