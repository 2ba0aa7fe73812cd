// Browse on the destination page: the notice a newer Windows gets, the
// shell's folder dialog and what its choice makes of the folder, and a drive
// without room refused.
#include "e2e/fixture.h"

using namespace e2e;

namespace {

const std::wstring kNewerWindowsNotice = L"您当前系统版本较高 , 最好不要选择安装在系统磁盘目录。";

TEST_F(Wizard, BrowseAppendsTheDisplayNameAndBackKeepsTheFolder)
{
    auto wizard = Start(SetupExe());
    HWND destination = ToDestination(*wizard);
    ASSERT_NE(destination, nullptr);
    Click(destination, kBrowse);
    // Wine reports Windows 7, a newer Windows: the advice comes first.
    HWND notice = wizard->WaitForBox(kCaption);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(BoxText(notice), kNewerWindowsNotice);
    EXPECT_TRUE(SaveScreenshot(L"box-newer-windows-notice", {wizard->Frame(), notice}));
    AnswerBox(notice, IDOK);
    HWND folders = wizard->WaitForFolderDialog();
    ASSERT_NE(folders, nullptr);
    EXPECT_TRUE(SaveScreenshot(L"box-folder-dialog", {wizard->Frame(), folders}));
    // A drive root: one backslash between it and the display name.
    ASSERT_TRUE(wizard->ChooseInFolderDialog(folders, L"D:\\"));
    const std::wstring expected = L"D:\\" + kDisplayName;
    EXPECT_TRUE(WaitUntil([&] { return ItemText(destination, kFolderEdit) == expected; }))
        << testing::PrintToString(ItemText(destination, kFolderEdit));

    HWND welcome = Press(*wizard, destination, kBack, Page::kWelcome);
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(ConfigValue(L"OBJ_IN_SETUP_DIR"), expected);
    ASSERT_EQ(ToDestination(*wizard), destination);
    EXPECT_EQ(ItemText(destination, kFolderEdit), expected);
    HWND ready = Press(*wizard, destination, kNext, Page::kReady);
    ASSERT_NE(ready, nullptr);
    const std::vector<std::wstring> summary{L"目标位置:", L"        " + expected};
    EXPECT_EQ(ListLines(::GetDlgItem(ready, kSummary)), summary);
}

TEST_F(Wizard, BrowseNoticeComesEvenWhenTheFolderDialogIsCancelled)
{
    auto wizard = Start(SetupExe());
    HWND destination = ToDestination(*wizard);
    ASSERT_NE(destination, nullptr);
    for (int press = 0; press < 2; ++press) {
        HWND folders = OpenFolderDialog(*wizard, destination);
        ASSERT_NE(folders, nullptr) << press;
        Click(folders, IDCANCEL);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(folders); }));
        EXPECT_EQ(ItemText(destination, kFolderEdit), kDefaultInstallDir);
    }
}

TEST_F(Wizard, BrowseRefusesADriveWithoutRoom)
{
    const std::wstring exe = Work(L"setup-huge.exe");
    ASSERT_TRUE(CopyWithResource(SetupExe(), exe, L"INI", 138, ConfigSetting(L"OBJ_IN_SIZE", L"2000000000")));
    auto wizard = Start(exe);
    HWND destination = ToDestination(*wizard);
    ASSERT_NE(destination, nullptr);
    const std::wstring before = ItemText(destination, kFolderEdit);
    HWND folders = OpenFolderDialog(*wizard, destination);
    ASSERT_NE(folders, nullptr);
    ASSERT_TRUE(wizard->ChooseInFolderDialog(folders, kWorkFolder));
    HWND refusal = wizard->WaitForBox(kCaption);
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(BoxText(refusal), L"磁盘D:剩余空间不足，请释放磁盘空间或者选择其他磁盘安装！");
    EXPECT_TRUE(SaveScreenshot(L"box-low-disk-space", {wizard->Frame(), refusal}));
    AnswerBox(refusal, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(refusal); }));
    EXPECT_EQ(ItemText(destination, kFolderEdit), before);
}

}  // namespace
