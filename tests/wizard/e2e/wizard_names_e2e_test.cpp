// Names that no single code page holds, driven through setup.exe as a user
// would: the folder chosen in the folder dialog and the configuration's
// Chinese names reach the pages, the disk, the links and the registration
// character for character. ctest runs these under code page 936 and again
// under 1252.
#include "e2e/fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace e2e;

namespace {

// Korean, Polish, Thai and Chinese, and a character beyond the BMP.
const std::wstring kChosenFolder = L"D:\\게임\\Łódź ภาษา 游戏 \U0001F3AE";

// A value of the configuration as the product team wrote it: the resource's
// GBK text, decoded here independently of the installer.
std::wstring ConfiguredValue(const std::wstring& key)
{
    return ValueIn(testing_support::FromCodePage(ReadResource(Bin(L"setup.exe"), L"INI", 138), 936), key);
}

// Target | arguments | working folder, read back through the shell; the
// target as the link's item list names it, in UTF-16: the copy a link
// keeps for the 8-bit world is in the ANSI code page, which Wine hands back
// as it is.
std::wstring LinkSummary(const std::wstring& path)
{
    ShortcutInfo link;
    if (!ReadShortcut(path, &link))
        return L"<unreadable>";
    return link.target + L" | " + link.arguments + L" | " + link.workingFolder;
}

class WizardNames : public WizardTest {
protected:
    void SetUp() override
    {
        RemoveTree(L"D:\\게임");
        Clear();
        ASSERT_EQ(::SHCreateDirectoryExW(nullptr, kChosenFolder.c_str(), nullptr), ERROR_SUCCESS);
    }
    void TearDown() override { Clear(); }

    void Clear()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKey(displayName).c_str());
        ::DeleteFileW(DesktopLink(mainLink).c_str());
        RemoveTree(ProgramGroup(displayName));
        ::DeleteFileW((TempFolder() + L"run-marker.txt").c_str());
    }

    const std::wstring displayName = ConfiguredValue(L"OBJ_IN_DISPLAY_NAME");
    const std::wstring mainLink = ConfiguredValue(L"OBJ_IN_EXE_LINK");
    const std::wstring installDir = kChosenFolder + L"\\" + displayName;
};

TEST_F(WizardNames, FolderOfManyScriptsAndTheConfiguredNamesReachEveryPlace)
{
    ASSERT_EQ(displayName, L"Quenlo棋牌");
    const std::wstring caption = ConfiguredValue(L"OBJ_IN_CAPTION");
    SetupProcess wizard(Bin(L"setup.exe"), {L"MARVANE_AUTOCLOSE_MS=300"});
    ASSERT_NE(wizard.WaitForFrame(), nullptr);
    HWND welcome = wizard.WaitForPage(Page::kWelcome);
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_TITLE_NAME), displayName);
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_SENTENCE_NAME), displayName);

    HWND destination = ToDestination(wizard);
    ASSERT_NE(destination, nullptr);
    EXPECT_EQ(ItemText(destination, IDC_DEST_QUESTION_NAME), displayName);
    EXPECT_EQ(ItemText(destination, IDC_DEST_QUOTED_NAME), L"“" + displayName + L"”。");
    HWND folders = OpenFolderDialog(wizard, destination);
    ASSERT_NE(folders, nullptr);
    ASSERT_TRUE(wizard.ChooseInFolderDialog(folders, kChosenFolder));
    ASSERT_TRUE(WaitUntil([&] { return ItemText(destination, kFolderEdit) == installDir; }))
        << testing::PrintToString(ItemText(destination, kFolderEdit));
    EXPECT_TRUE(SaveScreenshot(L"names-2-destination", {wizard.Frame()}));

    HWND ready = Press(wizard, destination, kNext, Page::kReady);
    ASSERT_NE(ready, nullptr);
    const std::vector<std::wstring> summary{L"目标位置:", L"        " + installDir};
    EXPECT_EQ(ListLines(::GetDlgItem(ready, kSummary)), summary);
    EXPECT_TRUE(SaveScreenshot(L"names-3-ready", {wizard.Frame()}));

    HWND finish = Press(wizard, ready, kInstall, Page::kFinish, 60000);
    ASSERT_NE(finish, nullptr);
    EXPECT_EQ(WindowText(finish), caption);
    EXPECT_EQ(ItemText(finish, IDC_FINISH_TITLE_NAME), displayName);
    EXPECT_EQ(ItemText(finish, IDC_FINISH_SENTENCE_NAME), displayName + L"。");
    EXPECT_EQ(ItemText(finish, IDC_FINISH_RUN_NAME), displayName);
    EXPECT_TRUE(SaveScreenshot(L"names-5-finish", {wizard.Frame()}));

    // The files, Chinese names among them, in exactly the chosen folder.
    for (const wchar_t* file : {L"Marvane.exe", L"uninst.exe", L"说明.txt", L"data\\牌桌\\规则.txt"})
        EXPECT_TRUE(Exists(installDir + L"\\" + file)) << testing::PrintToString(std::wstring(file));
    EXPECT_FALSE(Exists(installDir + L".temp"));

    const std::wstring program = installDir + L"\\" + ConfiguredValue(L"OBJ_IN_EXE");
    const std::wstring group = ProgramGroup(displayName);
    EXPECT_EQ(LinkSummary(DesktopLink(mainLink)), program + L" |  | " + installDir);
    EXPECT_EQ(LinkSummary(group + L"\\" + mainLink + L".lnk"), program + L" |  | " + installDir);
    EXPECT_EQ(LinkSummary(group + L"\\" + ConfiguredValue(L"OBJ_IN_REPAIR_EXE_LINK") + L".lnk"),
              installDir + L"\\" + ConfiguredValue(L"OBJ_IN_REPAIR_EXE") + L" | " +
                  ConfiguredValue(L"OBJ_IN_REPAIR_EXE_CMD") + L" | " + installDir);

    EXPECT_EQ(UninstallValue(displayName, L"DisplayName"), displayName);
    EXPECT_EQ(UninstallValue(displayName, L"Publisher"), ConfiguredValue(L"OBJ_IN_PUBLISHER"));
    EXPECT_EQ(UninstallValue(displayName, L"DisplayVersion"), ConfiguredValue(L"OBJ_IN_DISPLAY_VERSION"));
    EXPECT_EQ(UninstallValue(displayName, L"DisplayIcon"), program + L",-0");
    EXPECT_EQ(UninstallValue(displayName, L"UninstallString"),
              L"\"" + installDir + L"\\" + ConfiguredValue(L"OBJ_IN_UNINSTALL_EXE") + L"\"");

    // Run now: the installed program itself starts, and leaves its mark
    // beside itself.
    ASSERT_EQ(::SendMessageW(::GetDlgItem(finish, kRunNow), BM_GETCHECK, 0, 0), BST_CHECKED);
    Click(finish, kFinishButton);
    EXPECT_TRUE(wizard.WaitForExit());
    EXPECT_TRUE(WaitUntil([&] { return Exists(installDir + L"\\run-marker.txt"); }));
    EXPECT_FALSE(Exists(TempFolder() + L"run-marker.txt"));
}

}  // namespace
