// The whole road through the wizard, as a user takes it: every page, what
// Finish starts or opens, an upgrade that keeps the player's data, and the
// installer killed at any moment of one.
#include "e2e/fixture.h"

#include <tlhelp32.h>

#include <cstdio>

using namespace e2e;

namespace {

TEST_F(Wizard, WholeRoadInstallsTheProductAndShowsEveryPage)
{
    auto wizard = Start(SetupExe());
    HWND welcome = wizard->ShownPage();
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_TITLE_LEAD), L"欢迎使用");
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_TITLE_NAME), kDisplayName);
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_TITLE_TAIL), L"安装向导");
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_SENTENCE_LEAD), L"现在将安装");
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_SENTENCE_NAME), kDisplayName);
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_SENTENCE_TAIL), L"到您的电脑中。");
    EXPECT_EQ(ItemText(welcome, IDC_WELCOME_INSTRUCTION), L"单击“下一步”继续，单击“取消”退出安装程序。");
    // Written on the welcome page, before anything was pressed.
    EXPECT_EQ(ReadFileBytes(RunConfigFile()), ReadResource(SetupExe(), L"INI", 138));
    EXPECT_TRUE(SaveScreenshot(L"page-1-welcome", {wizard->Frame()}));
    // A page index past the last changes nothing.
    ::SendMessageW(wizard->Frame(), WM_USER + 1000, 6, 0);
    EXPECT_EQ(wizard->ShownPageKind(), Page::kWelcome);

    HWND destination = ToDestination(*wizard);
    ASSERT_NE(destination, nullptr);
    EXPECT_EQ(ItemText(destination, IDC_DEST_TITLE), L"选择目标位置");
    EXPECT_EQ(ItemText(destination, IDC_DEST_QUESTION_NAME), kDisplayName);
    EXPECT_EQ(ItemText(destination, IDC_DEST_STATEMENT_NAME), kDisplayName);
    EXPECT_EQ(ItemText(destination, IDC_DEST_QUOTED_NAME), L"“Quenlo棋牌”。");
    EXPECT_EQ(ItemText(destination, IDC_DEST_SPACE), L"至少需要  210 MB 的可用磁盘空间");
    EXPECT_EQ(ItemText(destination, kFolderEdit), kDefaultInstallDir);
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(destination, kFolderEdit)));
    EXPECT_TRUE(SaveScreenshot(L"page-2-destination", {wizard->Frame()}));

    HWND ready = Press(*wizard, destination, kNext, Page::kReady);
    ASSERT_NE(ready, nullptr);
    EXPECT_EQ(ConfigValue(L"OBJ_IN_SETUP_DIR"), kDefaultInstallDir);
    EXPECT_EQ(ItemText(ready, IDC_READY_SENTENCE_NAME), kDisplayName);
    const std::vector<std::wstring> summary{L"目标位置:", L"        " + kDefaultInstallDir};
    EXPECT_EQ(ListLines(::GetDlgItem(ready, kSummary)), summary);
    EXPECT_TRUE(SaveScreenshot(L"page-3-ready", {wizard->Frame()}));

    HWND installing = Press(*wizard, ready, kInstall, Page::kInstalling);
    ASSERT_NE(installing, nullptr);
    EXPECT_EQ(ItemText(installing, IDC_INSTALLING_HEADING_NAME), kDisplayName);
    EXPECT_EQ(ItemText(installing, IDC_INSTALLING_HEADING_LEAD), L"安装程序正在安装");
    EXPECT_EQ(WindowText(installing), L"Quenlo棋牌 安装");

    HWND finish = wizard->WaitForPage(Page::kFinish, 60000);
    ASSERT_NE(finish, nullptr);
    // Nothing is left to cancel.
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(installing, kCancel)));
    EXPECT_EQ(ItemText(finish, IDC_FINISH_TITLE_NAME), kDisplayName);
    EXPECT_EQ(ItemText(finish, IDC_FINISH_TITLE_TAIL), L"安装向导完成");
    EXPECT_EQ(ItemText(finish, IDC_FINISH_SENTENCE_NAME), kDisplayName + L"。");
    EXPECT_EQ(ItemText(finish, IDC_FINISH_RUN_NAME), kDisplayName);
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(finish, kRunNow)));
    EXPECT_EQ(::SendMessageW(::GetDlgItem(finish, kRunNow), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(WindowText(finish), L"Quenlo棋牌 安装");
    EXPECT_TRUE(SaveScreenshot(L"page-5-finish", {wizard->Frame()}));

    // On disk, in the registry and in the shortcuts.
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\uninst.exe"));
    EXPECT_FALSE(Exists(kDefaultInstallDir + L".temp"));
    EXPECT_EQ(UninstallValue(kDisplayName, L"DisplayName"), kDisplayName);
    EXPECT_EQ(UninstallValue(kDisplayName, L"DisplayVersion"), L"1.1.1.1");
    EXPECT_EQ(UninstallValue(kDisplayName, L"UninstallString"), L"\"" + kDefaultInstallDir + L"\\uninst.exe\"");
    EXPECT_EQ(ReadLink(DesktopLink(kDisplayName)).target, kDefaultInstallDir + L"\\Marvane.exe");
    EXPECT_EQ(ReadLink(ProgramGroup(kDisplayName) + L"\\" + kDisplayName + L".lnk").target, kDefaultInstallDir + L"\\Marvane.exe");
    const ShortcutInfo repair = ReadLink(ProgramGroup(kDisplayName) + L"\\强力修复.lnk");
    EXPECT_EQ(repair.target, kDefaultInstallDir + L"\\Marvane.exe");
    EXPECT_EQ(repair.arguments, L"-tp:1");

    // Cleared: Finish starts nothing.
    Click(finish, kRunNow);
    ASSERT_TRUE(WaitUntil([&] { return ::SendMessageW(::GetDlgItem(finish, kRunNow), BM_GETCHECK, 0, 0) == 0; }));
    Click(finish, kFinishButton);
    EXPECT_TRUE(wizard->WaitForExit());
    ExpectNoTemporaryFiles();
    ::Sleep(500);
    EXPECT_FALSE(Exists(kDefaultInstallDir + L"\\run-marker.txt"));
}

// Whether a process of that file name runs in the prefix.
bool ProgramRuns(const wchar_t* name)
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found; more = ::Process32NextW(snapshot, &entry))
        found = ::lstrcmpiW(entry.szExeFile, name) == 0;
    ::CloseHandle(snapshot);
    return found;
}

TEST_F(Wizard, RunNowStartsTheInstalledProgram)
{
    // Setup's own environment would keep the program open for ten minutes;
    // the player's closes it at once. Started with the player's token, it
    // has the player's environment and nothing of setup's.
    auto wizard = Start(SetupExe(), {L"MARVANE_AUTOCLOSE_MS=600000"});
    HWND finish = InstallToFinish(*wizard);
    ASSERT_NE(finish, nullptr);
    Click(finish, kFinishButton);
    EXPECT_TRUE(wizard->WaitForExit());
    // Started in its installation folder, not in the installer's; the
    // program may have made its file and not yet written it.
    const std::string folder = WideToCodePage(kDefaultInstallDir, CP_UTF8) + "\r\n";
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(kDefaultInstallDir + L"\\run-folder.txt") == folder; }))
        << ReadFileBytes(kDefaultInstallDir + L"\\run-folder.txt");
    EXPECT_TRUE(WaitUntil([] { return !ProgramRuns(L"Marvane.exe"); }, 10000));
}

TEST_F(Wizard, ConfiguredAddressIsOpenedAtFinish)
{
    // An address the shell opens by starting a program, so that its opening
    // leaves a mark: a copy of the sample's main program. Then without a
    // shell on the desktop: no player, so Finish opens and starts nothing,
    // and the wizard still ends.
    const std::wstring target = Work(L"url\\Marvane.exe");
    const std::wstring exe = Work(L"setup-url.exe");
    ASSERT_TRUE(CopyWithResource(SetupExe(), exe, L"INI", 138, ReadResource(SetupExe(), L"INI", 138) +
                                                                WideToCodePage(L"\r\nOBJ_IN_COMPLETE_URL=" + target, 936)));
    ASSERT_TRUE(::CreateDirectoryW(Work(L"url").c_str(), nullptr));
    for (const bool player : {true, false}) {
        SCOPED_TRACE(player ? "with a player" : "without a shell");
        if (!player)
            EndShell();
        ::DeleteFileW(Work(L"url\\run-marker.txt").c_str());
        ::DeleteFileW((kDefaultInstallDir + L"\\run-marker.txt").c_str());
        auto wizard = Start(exe);
        HWND finish = InstallToFinish(*wizard);
        ASSERT_NE(finish, nullptr);
        ASSERT_TRUE(::CopyFileW((kDefaultInstallDir + L"\\Marvane.exe").c_str(), target.c_str(), FALSE));
        // Unchecked with a player, checked without one.
        if (player)
            Click(finish, kRunNow);
        Click(finish, kFinishButton);
        EXPECT_TRUE(wizard->WaitForExit());
        EXPECT_EQ(WaitUntil([] { return Exists(Work(L"url\\run-marker.txt")); }, player ? 10000 : 2000), player);
        EXPECT_FALSE(Exists(kDefaultInstallDir + L"\\run-marker.txt"));
    }
}

TEST_F(Wizard, UpgradeKeepsTheUserDataFile)
{
    MakeEarlierInstallation();
    auto wizard = Start(SetupExe());
    ASSERT_NE(InstallToFinish(*wizard), nullptr);
    ExpectUpgraded();
}

// The installer's process killed (a power cut, Task Manager) at moments
// spread over a whole upgrade: during the extraction by how far it got, and
// at each later step as soon as the page shows it. Every time, the next run
// puts the earlier installation back, carries its user data over and
// finishes, and nothing is left beside the installation.
TEST_F(Wizard, KilledAtAnyMomentTheNextRunRecoversAndFinishes)
{
    const std::wstring bigSetup = BigPayloadSetup();
    struct KillPoint {
        const char* name;
        int percentExtracted;     // of the entries, or -1
        const wchar_t* status;    // the page's status line, or null
    };
    const KillPoint points[] = {
        {"as the worker starts", 0, nullptr},
        {"a third into the extraction", 33, nullptr},
        {"two thirds into the extraction", 66, nullptr},
        {"moving the earlier installation aside", -1, L"正在删除旧版本文件..."},
        {"renaming the new one into place", -1, L"正在覆盖旧版本文件..."},
        {"making the desktop shortcut", -1, L"正在创建桌面快捷方式..."},
        {"writing the uninstall entry", -1, L"正在写注册信息..."},
    };
    int survived = 0;
    for (const auto& point : points) {
        SCOPED_TRACE(point.name);
        RemoveTree(kDefaultInstallDir);
        MakeEarlierInstallation();
        {
            auto wizard = Start(bigSetup);
            HWND installing = GoToInstalling(*wizard);
            ASSERT_NE(installing, nullptr);
            HWND bar = ::GetDlgItem(installing, IDC_INSTALLING_PROGRESS);
            // Polled as fast as the page can be read; should the moment pass
            // unseen, the kill lands just after it.
            WaitUntil(
                [&] {
                    if (wizard->ShownPageKind() != Page::kInstalling)
                        return true;
                    if (point.status)
                        return ItemText(installing, kStatus) == point.status;
                    const int top = static_cast<int>(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
                    const int position = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
                    return top > 6 && position * 100 >= (top - 6) * point.percentExtracted;
                },
                120000);
            ASSERT_TRUE(::TerminateProcess(wizard->Handle(), 1));
            ASSERT_TRUE(wizard->WaitForExit());
        }
        // The configuration copy, with the chosen folder in it, went with
        // the process.
        for (const std::wstring& folder : RunFolders())
            EXPECT_FALSE(Exists(folder + L"\\incfg.ini")) << testing::PrintToString(folder);
        std::wstring left;
        for (const auto& leftover : Leftovers(kDefaultInstallDir))
            left += L" " + leftover;
        std::printf("killed %s: folder %s, beside it:%ls\n", point.name,
                    Exists(kDefaultInstallDir) ? "present" : "absent", left.c_str());
        // Put back as the wizard starts, before the user does anything.
        auto again = Start(SetupExe());
        EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
        for (const auto& leftover : Leftovers(kDefaultInstallDir))
            EXPECT_EQ(leftover.find(L".old"), std::wstring::npos) << testing::PrintToString(leftover);
        ASSERT_NE(InstallToFinish(*again, 120000), nullptr);
        ExpectUpgraded();
        if (!testing::Test::HasFailure())
            ++survived;
        ::TerminateProcess(again->Handle(), 0);
        again->WaitForExit();
    }
    std::printf("kill points survived: %d of %d\n", survived, static_cast<int>(std::size(points)));
}

}  // namespace
