// The wizard on an older Windows than the ones it advises about: no notice
// before the folder dialog, the system drive proposed, and the program
// started at the end without the player's shell.
#include "e2e/fixture.h"

using namespace e2e;

namespace {

// Wine reports Windows XP (5.2) to a program named setup-xp.exe.
std::wstring OlderWindowsSetup(const std::wstring& source)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\setup-xp.exe", 0, nullptr, 0, KEY_WRITE,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return {};
    const wchar_t version[] = L"winxp64";
    const bool set = ::RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                                      sizeof(version)) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    const std::wstring exe = Work(L"setup-xp.exe");
    return set && ::CopyFileW(source.c_str(), exe.c_str(), FALSE) ? exe : std::wstring();
}

TEST_F(Wizard, OlderWindowsBrowsesWithoutTheNotice)
{
    const std::wstring exe = OlderWindowsSetup(SetupExe());
    ASSERT_FALSE(exe.empty());
    auto wizard = Start(exe);
    HWND destination = ToDestination(*wizard);
    ASSERT_NE(destination, nullptr);
    Click(destination, kBrowse);
    HWND folders = wizard->WaitForFolderDialog();
    ASSERT_NE(folders, nullptr);
    EXPECT_EQ(wizard->FindBox(kCaption), nullptr);
    Click(folders, IDCANCEL);
}

TEST_F(Wizard, OlderWindowsProposesTheSystemDriveAndStartsTheProgramPlainly)
{
    const std::wstring exe = OlderWindowsSetup(SetupExe());
    ASSERT_FALSE(exe.empty());
    auto wizard = Start(exe, {L"MARVANE_AUTOCLOSE_MS=300"});
    HWND destination = ToDestination(*wizard);
    ASSERT_NE(destination, nullptr);
    // Not a newer Windows: the first fixed drive with room, the system's.
    const std::wstring folder = ItemText(destination, kFolderEdit);
    ASSERT_EQ(folder.substr(0, 3), L"C:\\");
    HWND ready = Press(*wizard, destination, kNext, Page::kReady);
    ASSERT_NE(ready, nullptr);
    HWND finish = Press(*wizard, ready, kInstall, Page::kFinish, 60000);
    ASSERT_NE(finish, nullptr);
    // Started for the player as on a newer Windows.
    Click(finish, kFinishButton);
    EXPECT_TRUE(wizard->WaitForExit());
    EXPECT_TRUE(WaitUntil([&] { return Exists(folder + L"\\run-marker.txt"); }));
    RemoveTree(folder);
}

}  // namespace
