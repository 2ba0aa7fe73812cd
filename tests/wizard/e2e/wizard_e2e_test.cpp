// setup.exe driven from outside, as a user would drive it, in a Wine prefix
// whose drive D: is a scratch folder of its own.
#include "e2e/control_ids.h"
#include "e2e/driver.h"
#include "e2e/fixture.h"
#include "system/shortcuts.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <map>
#include <string>

using namespace e2e;

namespace {

const std::wstring kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quenlo棋牌";
const std::wstring kCaption = L"游戏安装向导";
const std::wstring kQuestionCaption = L"温馨提示";
const std::wstring kErrorCaption = L"错误提示";
const std::wstring kCancelQuestion =
    L"安装还没有完成。如果您现在关闭安装\n程序，程序将不会安装到您的电脑中。\r\n选择“确定”退出安装。\r\n选择“取消”继续安装 。";
const std::wstring kNewerWindowsNotice = L"您当前系统版本较高 , 最好不要选择安装在系统磁盘目录。";

std::wstring ConfigFile() { return RunConfigFile(); }

// A value of the configuration file the wizard writes: GBK text, or UTF-16
// with its byte-order mark when GBK cannot hold it. Read as such rather than
// through the profile functions, which would decode GBK with the ANSI code
// page of whatever system the test runs under.
std::wstring ConfigValue(const std::wstring& key)
{
    const std::string bytes = ReadFileBytes(ConfigFile());
    std::wstring text;
    if (bytes.starts_with("\xFF\xFE")) {
        text.resize((bytes.size() - 2) / sizeof(wchar_t));
        std::memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
    } else {
        text = testing_support::FromCodePage(bytes, 936);
    }
    text = L"\n" + text + L"\r\n";
    const size_t at = text.find(L"\n" + key + L"=");
    if (at == std::wstring::npos)
        return {};
    const size_t from = at + key.size() + 2;
    return text.substr(from, text.find_first_of(L"\r\n", from) - from);
}

bool UninstallKeyExists()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

std::wstring UninstallValue(const wchar_t* name)
{
    wchar_t value[520] = {};
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return {};
    return value;
}

std::wstring DesktopShortcut() { return SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + kDisplayName + L".lnk"; }
std::wstring ProgramGroup() { return SpecialFolder(CSIDL_PROGRAMS) + L"\\" + kDisplayName; }

ShortcutInfo ReadLink(const std::wstring& path)
{
    ShortcutInfo link;
    ReadShortcut(path, &link);
    return link;
}

// The sample configuration with extra lines after it.
std::string ConfigWith(const std::wstring& extraLines)
{
    return ReadResource(Bin(L"setup.exe"), L"INI", 138) + WideToCodePage(extraLines, 936);
}

// The sample configuration with one line changed.
std::string ConfigReplacing(const std::string& line, const std::string& replacement)
{
    std::string text = ReadResource(Bin(L"setup.exe"), L"INI", 138);
    const size_t at = text.find(line);
    if (at != std::string::npos)
        text.replace(at, line.size(), replacement);
    return text;
}

// The visible top-level windows of a process with the caption: the boxes
// it shows at once.
int CountBoxes(DWORD processId, const std::wstring& caption)
{
    struct Search {
        DWORD processId;
        const std::wstring* caption;
        int count;
    } search{processId, &caption, 0};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && ::IsWindowVisible(window) && WindowText(window) == *s->caption)
                ++s->count;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.count;
}

// What lies beside the installation folder under its name: a staging or an
// aside folder left behind.
std::vector<std::wstring> Leftovers(const std::wstring& installDir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((installDir + L".*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    // "Tovani.*" matches "Tovani" itself too.
    const size_t own = installDir.size() - installDir.rfind(L'\\') - 1;
    do {
        if (::lstrlenW(data.cFileName) > static_cast<int>(own))
            names.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

class Wizard : public WizardTest {
protected:
    void SetUp() override
    {
        ::DeleteFileW((TempFolder() + L"run-marker.txt").c_str());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str());
        ::DeleteFileW(DesktopShortcut().c_str());
        RemoveTree(ProgramGroup());
        for (const auto& leftover : Leftovers(kDefaultInstallDir))
            RemoveTree(L"D:\\Program Files\\" + leftover);
        ASSERT_TRUE(ClearRuns(kDefaultInstallDir));
    }

    // An earlier installation of the product with its user data file.
    static void MakeEarlierInstallation()
    {
        ASSERT_EQ(::SHCreateDirectoryExW(nullptr, kDefaultInstallDir.c_str(), nullptr), ERROR_SUCCESS);
        ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\Marvane.exe", "old program"));
        ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\UserSetting.ini", "[user]\r\nname=keeper\r\n"));
        ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\slot1.sav", "the player's saved game"));
    }

    // The new version in place, the earlier user data and the player's own
    // file in it, nothing beside it.
    static void ExpectUpgraded()
    {
        EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\UserSetting.ini"), "[user]\r\nname=keeper\r\n");
        EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\slot1.sav"), "the player's saved game");
        EXPECT_NE(ReadFileBytes(kDefaultInstallDir + L"\\Marvane.exe"), "old program");
        EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\uninst.exe"));
        EXPECT_EQ(Leftovers(kDefaultInstallDir), std::vector<std::wstring>{});
        EXPECT_TRUE(UninstallKeyExists());
        EXPECT_TRUE(Exists(DesktopShortcut()));
    }

    std::wstring SetupExe() const { return Bin(L"setup.exe"); }

    // Welcome, Next, Next: the installing page, its worker started.
    HWND GoToInstalling(SetupProcess& wizard)
    {
        Click(wizard.ShownPage(), kNext);
        HWND destination = wizard.WaitForPage(Page::kDestination);
        if (!destination)
            return nullptr;
        Click(destination, kNext);
        HWND ready = wizard.WaitForPage(Page::kReady);
        if (!ready)
            return nullptr;
        Click(ready, kInstall);
        return wizard.WaitForPage(Page::kInstalling);
    }

    // A copy of setup.exe whose payload has enough entries for a cancel to
    // catch the extraction running.
    std::wstring BigPayloadSetup()
    {
        const std::wstring exe = Work(L"setup.exe");
        const std::string archive = ReadFileBytes(Bin(L"big-payload.7z"));
        EXPECT_FALSE(archive.empty());
        EXPECT_TRUE(CopyWithResource(SetupExe(), exe, L"DATA", 148, archive));
        return exe;
    }

    // Starts the big-payload wizard, installs, and once the extraction runs
    // asks to cancel through ask (the page's Cancel or the close box); the
    // question's box, or null.
    HWND AskDuringExtraction(std::unique_ptr<SetupProcess>& wizard, HWND* installing,
                             const std::function<void(SetupProcess&, HWND)>& ask)
    {
        wizard = Start(BigPayloadSetup());
        *installing = GoToInstalling(*wizard);
        if (!*installing)
            return nullptr;
        HWND page = *installing;
        if (!WaitUntil([&] { return ItemText(page, kStatus) == L"正在解压文件"; }))
            return nullptr;
        ask(*wizard, page);
        return wizard->WaitForBox(kQuestionCaption);
    }

    static void PressCancel(SetupProcess&, HWND installing) { Click(installing, kCancel); }

    // After the wizard ended, however it ended.
    static void ExpectNoTemporaryFiles()
    {
        EXPECT_EQ(RunFolders(), std::vector<std::wstring>{});
        EXPECT_FALSE(Exists(TempFolder() + L"incfg.ini"));
    }

    void ExpectNothingInstalled(const std::wstring& installDir = kDefaultInstallDir)
    {
        EXPECT_FALSE(Exists(installDir));
        EXPECT_FALSE(Exists(installDir + L".temp"));
        EXPECT_FALSE(UninstallKeyExists());
        EXPECT_FALSE(Exists(DesktopShortcut()));
        EXPECT_FALSE(Exists(ProgramGroup()));
    }
};

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
    EXPECT_EQ(ReadFileBytes(ConfigFile()), ReadResource(SetupExe(), L"INI", 138));
    EXPECT_TRUE(SaveScreenshot(L"page-1-welcome", {wizard->Frame()}));
    // A page index past the last changes nothing.
    ::SendMessageW(wizard->Frame(), WM_USER + 1000, 6, 0);
    EXPECT_EQ(wizard->ShownPageKind(), Page::kWelcome);

    Click(welcome, kNext);
    HWND destination = wizard->WaitForPage(Page::kDestination);
    ASSERT_NE(destination, nullptr);
    EXPECT_EQ(ItemText(destination, IDC_DEST_TITLE), L"选择目标位置");
    EXPECT_EQ(ItemText(destination, IDC_DEST_QUESTION_NAME), kDisplayName);
    EXPECT_EQ(ItemText(destination, IDC_DEST_STATEMENT_NAME), kDisplayName);
    EXPECT_EQ(ItemText(destination, IDC_DEST_QUOTED_NAME), L"“Quenlo棋牌”。");
    EXPECT_EQ(ItemText(destination, IDC_DEST_SPACE), L"至少需要  210 MB 的可用磁盘空间");
    EXPECT_EQ(ItemText(destination, kFolderEdit), kDefaultInstallDir);
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(destination, kFolderEdit)));
    EXPECT_TRUE(SaveScreenshot(L"page-2-destination", {wizard->Frame()}));

    Click(destination, kNext);
    HWND ready = wizard->WaitForPage(Page::kReady);
    ASSERT_NE(ready, nullptr);
    EXPECT_EQ(ConfigValue(L"OBJ_IN_SETUP_DIR"), kDefaultInstallDir);
    EXPECT_EQ(ItemText(ready, IDC_READY_SENTENCE_NAME), kDisplayName);
    const std::vector<std::wstring> summary{L"目标位置:", L"        " + kDefaultInstallDir};
    EXPECT_EQ(ListLines(::GetDlgItem(ready, kSummary)), summary);
    EXPECT_TRUE(SaveScreenshot(L"page-3-ready", {wizard->Frame()}));

    Click(ready, kInstall);
    HWND installing = wizard->WaitForPage(Page::kInstalling);
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
    EXPECT_EQ(UninstallValue(L"DisplayName"), kDisplayName);
    EXPECT_EQ(UninstallValue(L"DisplayVersion"), L"1.1.1.1");
    EXPECT_EQ(UninstallValue(L"UninstallString"), L"\"" + kDefaultInstallDir + L"\\uninst.exe\"");
    EXPECT_EQ(ReadLink(DesktopShortcut()).target, kDefaultInstallDir + L"\\Marvane.exe");
    EXPECT_EQ(ReadLink(ProgramGroup() + L"\\" + kDisplayName + L".lnk").target, kDefaultInstallDir + L"\\Marvane.exe");
    const ShortcutInfo repair = ReadLink(ProgramGroup() + L"\\强力修复.lnk");
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
    ASSERT_NE(GoToInstalling(*wizard), nullptr);
    HWND finish = wizard->WaitForPage(Page::kFinish, 60000);
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
    ASSERT_TRUE(CopyWithResource(SetupExe(), exe, L"INI", 138, ConfigWith(L"\r\nOBJ_IN_COMPLETE_URL=" + target)));
    ASSERT_TRUE(::CreateDirectoryW(Work(L"url").c_str(), nullptr));
    for (const bool player : {true, false}) {
        SCOPED_TRACE(player ? "with a player" : "without a shell");
        if (!player)
            EndShell();
        ::DeleteFileW(Work(L"url\\run-marker.txt").c_str());
        ::DeleteFileW((kDefaultInstallDir + L"\\run-marker.txt").c_str());
        auto wizard = Start(exe);
        ASSERT_NE(GoToInstalling(*wizard), nullptr);
        HWND finish = wizard->WaitForPage(Page::kFinish, 60000);
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
    ASSERT_NE(GoToInstalling(*wizard), nullptr);
    ASSERT_NE(wizard->WaitForPage(Page::kFinish, 60000), nullptr);
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
        ASSERT_NE(GoToInstalling(*again), nullptr);
        HWND finish = again->WaitForPage(Page::kFinish, 120000);
        ASSERT_NE(finish, nullptr);
        ExpectUpgraded();
        if (!testing::Test::HasFailure())
            ++survived;
        ::TerminateProcess(again->Handle(), 0);
        again->WaitForExit();
    }
    std::printf("kill points survived: %d of %d\n", survived, static_cast<int>(std::size(points)));
}

class CancelOnPage : public Wizard, public ::testing::WithParamInterface<int> {};

TEST_P(CancelOnPage, DeletesTheConfigurationAndInstallsNothing)
{
    auto wizard = Start(SetupExe());
    const Page road[] = {Page::kWelcome, Page::kDestination, Page::kReady};
    HWND page = wizard->ShownPage();
    for (int step = 1; step <= GetParam() && page; ++step) {
        Click(page, kNext);
        page = wizard->WaitForPage(road[step]);
    }
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(Exists(ConfigFile()));
    Click(page, kCancel);
    EXPECT_TRUE(wizard->WaitForExit());
    ExpectNoTemporaryFiles();
    ExpectNothingInstalled();
}

INSTANTIATE_TEST_SUITE_P(FirstThreePages, CancelOnPage, ::testing::Values(0, 1, 2));

TEST_F(Wizard, CancelConfirmedDuringExtractionRollsBack)
{
    std::unique_ptr<SetupProcess> wizard;
    HWND installing = nullptr;
    HWND box = AskDuringExtraction(wizard, &installing, [](SetupProcess& process, HWND page) {
        // Taken while the big payload unpacks: the sample product alone is
        // installed before a shot is taken.
        EXPECT_TRUE(SaveScreenshot(L"page-4-installing", {process.Frame()}));
        EXPECT_EQ(process.ShownPageKind(), Page::kInstalling);
        PressCancel(process, page);
    });
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), kCancelQuestion);
    EXPECT_TRUE(SaveScreenshot(L"box-cancel-question", {wizard->Frame(), box}));
    // Held still while the question is open.
    const std::wstring entry = ItemText(installing, kDetail);
    ::Sleep(700);
    EXPECT_EQ(ItemText(installing, kDetail), entry);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L".temp"));
    AnswerBox(box, IDOK);
    HWND cancelled = wizard->WaitForPage(Page::kCancelled, 60000);
    ASSERT_NE(cancelled, nullptr);
    EXPECT_EQ(ItemText(cancelled, IDC_FINISH_TITLE_NAME), kDisplayName);
    EXPECT_EQ(ItemText(cancelled, IDC_FINISH_TITLE_TAIL), L"安装已取消。");
    EXPECT_EQ(ItemText(cancelled, IDC_FINISH_INSTRUCTION), L"单击“完成”退出安装程序。");
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(cancelled, kRunNow)));
    // Counted back to the start: within its first step of a few thousand.
    HWND bar = ::GetDlgItem(installing, IDC_INSTALLING_PROGRESS);
    EXPECT_LE(::SendMessageW(bar, PBM_GETPOS, 0, 0) * 100, ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_TRUE(SaveScreenshot(L"page-6-cancelled", {wizard->Frame()}));
    ExpectNothingInstalled();
    // Its check box is hidden but ticked: Finish must start nothing.
    Click(cancelled, kFinishButton);
    EXPECT_TRUE(wizard->WaitForExit());
    ExpectNoTemporaryFiles();
    ExpectNothingInstalled();
    ::Sleep(500);
    EXPECT_FALSE(Exists(TempFolder() + L"run-marker.txt"));
}

TEST_F(Wizard, CancelQuestionAnsweredCancelCompletesTheInstallation)
{
    std::unique_ptr<SetupProcess> wizard;
    HWND installing = nullptr;
    HWND box = AskDuringExtraction(wizard, &installing, &PressCancel);
    ASSERT_NE(box, nullptr);
    AnswerBox(box, IDCANCEL);
    ASSERT_NE(wizard->WaitForPage(Page::kFinish, 120000), nullptr);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    EXPECT_TRUE(UninstallKeyExists());
}

TEST_F(Wizard, CloseBoxWhileInstallingAsksTheCancelQuestion)
{
    std::unique_ptr<SetupProcess> wizard;
    HWND installing = nullptr;
    HWND box = AskDuringExtraction(wizard, &installing, [](SetupProcess& process, HWND) {
        ::PostMessageW(process.Frame(), WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), kCancelQuestion);
    AnswerBox(box, IDOK);
    ASSERT_NE(wizard->WaitForPage(Page::kCancelled, 60000), nullptr);
    ExpectNothingInstalled();
}

TEST_F(Wizard, CloseBoxOnAnotherPageEndsAtOnceAndLeavesNoTemporaryFile)
{
    auto wizard = Start(SetupExe());
    Click(wizard->ShownPage(), kNext);
    ASSERT_NE(wizard->WaitForPage(Page::kDestination), nullptr);
    ::PostMessageW(wizard->Frame(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(wizard->WaitForExit());
    ExpectNoTemporaryFiles();
    ExpectNothingInstalled();
}

TEST_F(Wizard, FolderInUseStopsTheReplacementWithItsErrorBox)
{
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, kDefaultInstallDir.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\Marvane.exe", "old program"));
    // Open without FILE_SHARE_DELETE, as a running program holds its files.
    HANDLE held = ::CreateFileW((kDefaultInstallDir + L"\\Marvane.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto wizard = Start(SetupExe());
    ASSERT_NE(GoToInstalling(*wizard), nullptr);
    HWND box = wizard->WaitForBox(kErrorCaption, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), L"覆盖安装文件出错！源程序正在运行， 请关闭后重试！");
    EXPECT_NE(::GetDlgItem(box, IDRETRY), nullptr);
    EXPECT_TRUE(SaveScreenshot(L"box-error", {wizard->Frame(), box}));
    AnswerBox(box, IDCANCEL);
    HWND cancelled = wizard->WaitForPage(Page::kCancelled, 60000);
    ASSERT_NE(cancelled, nullptr);
    // Told once: the rollback shows no second box.
    EXPECT_EQ(CountBoxes(wizard->Id(), kErrorCaption), 0);
    ::CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\Marvane.exe"), "old program");
    EXPECT_FALSE(Exists(kDefaultInstallDir + L".temp"));
    Click(cancelled, kFinishButton);
    EXPECT_TRUE(wizard->WaitForExit());
    ExpectNoTemporaryFiles();
}

TEST_F(Wizard, DamagedPayloadIsToldOnceThenTheCancelledPage)
{
    std::string archive = ReadResource(SetupExe(), L"DATA", 148);
    ASSERT_GT(archive.size(), 4096u);
    for (size_t i = archive.size() / 2; i < archive.size() / 2 + 1024; ++i)
        archive[i] = static_cast<char>(archive[i] ^ 0x5A);
    const std::wstring exe = Work(L"setup-damaged.exe");
    ASSERT_TRUE(CopyWithResource(SetupExe(), exe, L"DATA", 148, archive));
    auto wizard = Start(exe);
    ASSERT_NE(GoToInstalling(*wizard), nullptr);
    HWND box = wizard->WaitForBox(kErrorCaption, 60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), L"安装文件已损坏，请重新下载安装程序后再安装！");
    EXPECT_TRUE(SaveScreenshot(L"box-damaged-payload", {wizard->Frame(), box}));
    // The cancelled page follows the box, not before it.
    EXPECT_EQ(wizard->ShownPageKind(), Page::kInstalling);
    AnswerBox(box, IDOK);
    HWND cancelled = wizard->WaitForPage(Page::kCancelled, 60000);
    ASSERT_NE(cancelled, nullptr);
    EXPECT_EQ(ItemText(cancelled, IDC_FINISH_TITLE_TAIL), L"安装已取消。");
    EXPECT_EQ(CountBoxes(wizard->Id(), kErrorCaption), 0);
    ExpectNothingInstalled();
}

// Another program posting WM_CLOSE or WM_QUIT while the question is open
// neither asks a second time nor ends the wizard under its running install.
TEST_F(Wizard, CloseAndQuitWhileTheQuestionIsOpenDoNotEndTheInstallation)
{
    std::unique_ptr<SetupProcess> wizard;
    HWND installing = nullptr;
    HWND box = AskDuringExtraction(wizard, &installing, &PressCancel);
    ASSERT_NE(box, nullptr);
    ::PostMessageW(wizard->Frame(), WM_CLOSE, 0, 0);
    ::PostMessageW(wizard->Frame(), WM_SYSCOMMAND, SC_CLOSE, 0);
    ::Sleep(500);
    EXPECT_EQ(CountBoxes(wizard->Id(), kQuestionCaption), 1);
    ::PostThreadMessageW(::GetWindowThreadProcessId(wizard->Frame(), nullptr), WM_QUIT, 0, 0);
    ::Sleep(500);
    EXPECT_FALSE(wizard->WaitForExit(0));
    // The box may have been ended by the quit; if not, the user goes on.
    if (HWND still = wizard->FindBox(kQuestionCaption))
        AnswerBox(still, IDCANCEL);
    ASSERT_NE(wizard->WaitForPage(Page::kFinish, 120000), nullptr);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    EXPECT_TRUE(UninstallKeyExists());
}

// Clicks that reach a page after it was left (a second click on Next or
// Install, or a program clicking hidden buttons) neither end the wizard
// during the installation nor take it back from the finish page; Ctrl+Break
// on any page leaves it shown.
TEST_F(Wizard, LateClicksAndCtrlBreakLeaveTheShownPage)
{
    auto wizard = Start(SetupExe());
    HWND welcome = wizard->ShownPage();
    PressKey(wizard->FocusWindow(), VK_CANCEL);
    Click(welcome, kNext);
    Click(welcome, kNext);
    HWND destination = wizard->WaitForPage(Page::kDestination);
    ASSERT_NE(destination, nullptr);
    PressKey(wizard->FocusWindow(), VK_CANCEL);
    Click(destination, kNext);
    HWND ready = wizard->WaitForPage(Page::kReady);
    ASSERT_NE(ready, nullptr);
    PressKey(wizard->FocusWindow(), VK_CANCEL);
    Click(ready, kInstall);
    Click(ready, kInstall);
    HWND installing = wizard->WaitForPage(Page::kInstalling);
    ASSERT_NE(installing, nullptr);
    Click(ready, kCancel);
    Click(welcome, kNext);
    PressKey(wizard->FocusWindow(), VK_CANCEL);
    ::Sleep(300);
    EXPECT_FALSE(wizard->WaitForExit(0));
    HWND finish = wizard->WaitForPage(Page::kFinish, 60000);
    ASSERT_NE(finish, nullptr);
    PressKey(wizard->FocusWindow(), VK_CANCEL);
    Click(ready, kInstall);
    Click(destination, kBack);
    ::Sleep(500);
    EXPECT_EQ(wizard->ShownPageKind(), Page::kFinish);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
}

TEST_F(Wizard, SecondCopyUnderTheSameNameEndsSilently)
{
    auto first = Start(SetupExe());
    SetupProcess second(SetupExe());
    ASSERT_TRUE(second.Started());
    EXPECT_TRUE(second.WaitForExit());
    EXPECT_EQ(second.WaitForFrame(0), nullptr);
    EXPECT_EQ(first->ShownPageKind(), Page::kWelcome);

    const std::wstring renamed = Work(L"other-name.exe");
    ASSERT_TRUE(::CopyFileW(SetupExe().c_str(), renamed.c_str(), FALSE));
    SetupProcess other(renamed);
    EXPECT_NE(other.WaitForFrame(), nullptr);
    EXPECT_NE(other.WaitForPage(Page::kWelcome), nullptr);
}

TEST_F(Wizard, EnterAndEscapeChangeNothing)
{
    auto wizard = Start(SetupExe());
    auto pressBoth = [&](Page expected) {
        HWND page = wizard->WaitForPage(expected);
        ASSERT_NE(page, nullptr) << PageName(expected);
        HWND focus = wizard->FocusWindow();
        ASSERT_NE(focus, nullptr) << PageName(expected);
        EXPECT_TRUE(::IsChild(page, focus)) << PageName(expected);
        PressKey(focus, VK_RETURN);
        PressKey(focus, VK_ESCAPE);
        PressKey(wizard->Frame(), VK_RETURN);
        PressKey(wizard->Frame(), VK_ESCAPE);
        ::Sleep(600);
        EXPECT_FALSE(wizard->WaitForExit(0)) << PageName(expected);
        EXPECT_EQ(wizard->ShownPageKind(), expected) << PageName(expected);
    };
    pressBoth(Page::kWelcome);
    Click(wizard->ShownPage(), kNext);
    pressBoth(Page::kDestination);
    Click(wizard->ShownPage(), kNext);
    pressBoth(Page::kReady);
    Click(wizard->ShownPage(), kInstall);
    pressBoth(Page::kFinish);
    EXPECT_TRUE(Exists(ConfigFile()));
}

TEST_F(Wizard, BrowseAppendsTheDisplayNameAndBackKeepsTheFolder)
{
    auto wizard = Start(SetupExe());
    Click(wizard->ShownPage(), kNext);
    HWND destination = wizard->WaitForPage(Page::kDestination);
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

    Click(destination, kBack);
    HWND welcome = wizard->WaitForPage(Page::kWelcome);
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(ConfigValue(L"OBJ_IN_SETUP_DIR"), expected);
    Click(welcome, kNext);
    ASSERT_NE(wizard->WaitForPage(Page::kDestination), nullptr);
    EXPECT_EQ(ItemText(destination, kFolderEdit), expected);
    Click(destination, kNext);
    HWND ready = wizard->WaitForPage(Page::kReady);
    ASSERT_NE(ready, nullptr);
    const std::vector<std::wstring> summary{L"目标位置:", L"        " + expected};
    EXPECT_EQ(ListLines(::GetDlgItem(ready, kSummary)), summary);
}

TEST_F(Wizard, BrowseNoticeComesEvenWhenTheFolderDialogIsCancelled)
{
    auto wizard = Start(SetupExe());
    Click(wizard->ShownPage(), kNext);
    HWND destination = wizard->WaitForPage(Page::kDestination);
    ASSERT_NE(destination, nullptr);
    for (int press = 0; press < 2; ++press) {
        Click(destination, kBrowse);
        HWND notice = wizard->WaitForBox(kCaption);
        ASSERT_NE(notice, nullptr) << press;
        AnswerBox(notice, IDOK);
        HWND folders = wizard->WaitForFolderDialog();
        ASSERT_NE(folders, nullptr);
        Click(folders, IDCANCEL);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(folders); }));
        EXPECT_EQ(ItemText(destination, kFolderEdit), kDefaultInstallDir);
    }
}

TEST_F(Wizard, BrowseRefusesADriveWithoutRoom)
{
    const std::wstring exe = Work(L"setup-huge.exe");
    ASSERT_TRUE(CopyWithResource(SetupExe(), exe, L"INI", 138, ConfigReplacing("OBJ_IN_SIZE=210", "OBJ_IN_SIZE=2000000000")));
    auto wizard = Start(exe);
    Click(wizard->ShownPage(), kNext);
    HWND destination = wizard->WaitForPage(Page::kDestination);
    ASSERT_NE(destination, nullptr);
    const std::wstring before = ItemText(destination, kFolderEdit);
    Click(destination, kBrowse);
    HWND notice = wizard->WaitForBox(kCaption);
    ASSERT_NE(notice, nullptr);
    AnswerBox(notice, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(notice); }));
    HWND folders = wizard->WaitForFolderDialog();
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
    Click(wizard->ShownPage(), kNext);
    HWND destination = wizard->WaitForPage(Page::kDestination);
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
    Click(wizard->ShownPage(), kNext);
    HWND destination = wizard->WaitForPage(Page::kDestination);
    ASSERT_NE(destination, nullptr);
    // Not a newer Windows: the first fixed drive with room, the system's.
    const std::wstring folder = ItemText(destination, kFolderEdit);
    ASSERT_EQ(folder.substr(0, 3), L"C:\\");
    Click(destination, kNext);
    HWND ready = wizard->WaitForPage(Page::kReady);
    ASSERT_NE(ready, nullptr);
    Click(ready, kInstall);
    HWND finish = wizard->WaitForPage(Page::kFinish, 60000);
    ASSERT_NE(finish, nullptr);
    // Started for the player as on a newer Windows.
    Click(finish, kFinishButton);
    EXPECT_TRUE(wizard->WaitForExit());
    EXPECT_TRUE(WaitUntil([&] { return Exists(folder + L"\\run-marker.txt"); }));
    RemoveTree(folder);
}

TEST_F(Wizard, PlantedComctl32BesideSetupIsNotLoaded)
{
    const std::wstring folder = Work(L"downloads");
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* name : {L"setup.exe", L"comctl32.dll", L"dll_probe.exe"})
        ASSERT_TRUE(::CopyFileW(Bin(name).c_str(), (folder + L"\\" + name).c_str(), FALSE)) << name;
    const std::wstring marker = folder + L"\\planted-dll-loaded.txt";
    // run_e2e.sh has told Wine to prefer a comctl32 found beside a program.
    {
        // The control: a program that loads comctl32 by name does take the
        // planted one.
        SetupProcess probe(folder + L"\\dll_probe.exe");
        ASSERT_TRUE(probe.WaitForExit());
        ASSERT_TRUE(Exists(marker));
        ::DeleteFileW(marker.c_str());
    }
    auto wizard = Start(folder + L"\\setup.exe");
    // The installing page exists: its progress bar's class came from the
    // system's comctl32.
    HWND frame = wizard->Frame();
    ASSERT_NE(frame, nullptr);
    int pages = 0;
    for (HWND child = ::GetWindow(frame, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        ++pages;
    EXPECT_EQ(pages, 6);
    EXPECT_FALSE(Exists(marker));
}

// ------------------------------------------------- damaged downloads --

// A copy of setup.exe with one byte of a resource changed in the file, as a
// download damaged in transit has it.
std::wstring DamagedCopy(const std::wstring& source, const wchar_t* type, int id, const std::wstring& target)
{
    std::string image = ReadFileBytes(source);
    const std::string resource = ReadResource(source, type, id);
    const size_t at = resource.empty() ? std::string::npos : image.find(resource);
    if (at == std::string::npos || !WriteFileBytes(target, (image[at + resource.size() / 2] ^= 0x20, image)))
        return {};
    return target;
}

TEST_F(Wizard, DamagedDownloadShowsOneBoxWritesNothingAndEnds)
{
    for (const auto& [type, id] : {std::pair{L"INI", 138}, std::pair{L"DATA", 148}}) {
        SCOPED_TRACE(type);
        ::DeleteFileW(ConfigFile().c_str());
        const std::wstring exe = DamagedCopy(SetupExe(), type, id, Work(L"damaged.exe"));
        ASSERT_FALSE(exe.empty());
        SetupProcess wizard(exe);
        ASSERT_TRUE(wizard.Started());
        HWND box = wizard.WaitForBox(kErrorCaption);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(BoxText(box), L"安装程序已损坏，无法继续安装。\r\n请重新下载安装程序后再运行。");
        if (id == 148) {
            EXPECT_TRUE(SaveScreenshot(L"box-damaged", {wizard.WaitForFrame(), box}));
        }
        // Buttons pressed behind the box's back move nothing on.
        wizard.WaitForFrame();
        for (int press = 0; press < 3; ++press) {
            if (HWND page = wizard.ShownPage()) {
                ::SendMessageW(::GetDlgItem(page, kNext), BM_CLICK, 0, 0);
                ::SendMessageW(::GetDlgItem(page, kInstall), BM_CLICK, 0, 0);
            }
        }
        EXPECT_NE(wizard.ShownPageKind(), Page::kInstalling);
        AnswerBox(box, IDOK);
        EXPECT_TRUE(wizard.WaitForExit());
        EXPECT_FALSE(Exists(ConfigFile()));
        ExpectNothingInstalled();
    }
}

// ---------------------------------------------------- silent installs --

// Runs exe with arguments and waits for its end; its exit code, or
// STILL_ACTIVE at the deadline.
DWORD RunToEnd(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs = 120000)
{
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
        return static_cast<DWORD>(-1);
    ::CloseHandle(info.hThread);
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(info.hProcess, &code);
    else
        ::TerminateProcess(info.hProcess, 99);
    ::CloseHandle(info.hProcess);
    return code;
}

TEST_F(Wizard, SilentInstallUpgradeUninstallAndInstallAgain)
{
    // Into the folder the destination page would propose, with everything
    // the wizard makes, and no window.
    ASSERT_EQ(RunToEnd(SetupExe(), L"/S"), 0u);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    EXPECT_TRUE(Exists(DesktopShortcut()));
    EXPECT_TRUE(Exists(ProgramGroup()));
    EXPECT_EQ(UninstallValue(L"UninstallString"), L"\"" + kDefaultInstallDir + L"\\uninst.exe\"");
    EXPECT_FALSE(Exists(ConfigFile()));
    EXPECT_FALSE(Exists(kDefaultInstallDir + L"\\run-marker.txt"));  // nothing started

    // What the player's game writes into its folder stays through a repair,
    // an uninstallation and the installation after it; the user data file
    // is carried over.
    ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\UserSetting.ini", "[user]\r\nname=keeper\r\n"));
    const std::wstring saves = kDefaultInstallDir + L"\\saves";
    ASSERT_TRUE(::CreateDirectoryW(saves.c_str(), nullptr));
    const std::map<std::wstring, std::string> playerFiles = {
        {saves + L"\\slot1.sav", "saved game"}, {kDefaultInstallDir + L"\\data\\macro.txt", "a macro"}};
    for (const auto& [path, bytes] : playerFiles)
        ASSERT_TRUE(WriteFileBytes(path, bytes));
    const auto expectPlayerFiles = [&] {
        for (const auto& [path, bytes] : playerFiles)
            EXPECT_EQ(ReadFileBytes(path), bytes);
    };
    ASSERT_EQ(RunToEnd(SetupExe(), L"/S"), 0u);
    EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\UserSetting.ini"), "[user]\r\nname=keeper\r\n");
    expectPlayerFiles();

    // The installer's uninstaller, run as the system's list of programs runs
    // it, silently: nothing of the product remains but the user data file.
    ASSERT_EQ(RunToEnd(kDefaultInstallDir + L"\\uninst.exe", L"/S"), 0u);
    EXPECT_TRUE(WaitUntil([] {
        return !Exists(kDefaultInstallDir + L"\\Marvane.exe") && !Exists(DesktopShortcut()) &&
               !Exists(ProgramGroup()) && !UninstallKeyExists();
    }));
    EXPECT_TRUE(WaitUntil([] { return !Exists(kDefaultInstallDir + L"\\uninst.exe"); }));
    EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\UserSetting.ini"), "[user]\r\nname=keeper\r\n");
    EXPECT_FALSE(Exists(kDefaultInstallDir + L"\\data\\boards"));
    expectPlayerFiles();

    // A second installation after the uninstallation.
    ASSERT_EQ(RunToEnd(SetupExe(), L"/S"), 0u);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    EXPECT_TRUE(UninstallKeyExists());
    expectPlayerFiles();

    // Its uninstaller run as the list of programs runs it, asking: while the
    // question is shown, another program renames its file away and moves
    // the sample program in under its name. What removes the installation
    // is the file that asked, not the one moved in.
    const std::wstring uninst = kDefaultInstallDir + L"\\uninst.exe";
    SetupProcess asking(uninst, {L"MARVANE_AUTOCLOSE_MS=300"});
    HWND question = asking.WaitForBox(L"卸载程序");
    ASSERT_NE(question, nullptr);
    const bool renamed = ::MoveFileExW(uninst.c_str(), (uninst + L".away").c_str(), 0) &&
                         ::CopyFileW((kDefaultInstallDir + L"\\Marvane.exe").c_str(), uninst.c_str(), TRUE);
    EXPECT_FALSE(renamed);
    AnswerBox(question, IDYES);
    // Keep the user data file; then the outcome, told by the copy.
    HWND keep = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        keep = asking.FindBox(L"卸载程序");
        return keep && keep != question && ::IsWindowVisible(keep);
    }));
    AnswerBox(keep, IDYES);
    HWND told = nullptr;
    EXPECT_TRUE(WaitUntil([&] {
        told = ::FindWindowW(L"#32770", L"卸载程序");
        return told && told != keep && ::IsWindowVisible(told);
    }));
    if (told)
        AnswerBox(told, IDOK);
    EXPECT_TRUE(asking.WaitForExit());
    EXPECT_EQ(asking.ExitCode(), 0u);
    EXPECT_FALSE(UninstallKeyExists());
    EXPECT_FALSE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    expectPlayerFiles();
}

// The log a support desk asks for: each run's own file, UTF-8 with a
// byte-order mark, a time on every line, the folder and where it came from,
// the steps, why a run failed and how it ended. A name already taken is
// left as it was and the log goes to the next free one.
TEST_F(Wizard, SilentRunsWriteALogOfHowTheyWent)
{
    const std::wstring foreign = Work(L"foreign");
    ASSERT_TRUE(::CreateDirectoryW(foreign.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(foreign + L"\\notes.txt", "someone else's"));
    ASSERT_TRUE(WriteFileBytes(Work(L"refused.log"), "someone else's log"));
    std::string ini = ReadResource(SetupExe(), L"INI", 138);
    const size_t size = ini.find("OBJ_IN_SIZE=");
    ASSERT_NE(size, std::string::npos);
    ini.replace(size, ini.find_first_of("\r\n", size) - size, "OBJ_IN_SIZE=2000000000");
    ASSERT_TRUE(CopyWithResource(SetupExe(), Work(L"no-room.exe"), L"INI", 138, ini));
    const std::wstring uninstaller = kDefaultInstallDir + L"\\uninst.exe";
    struct Run {
        std::wstring exe, arguments, log;
        DWORD code;
        std::vector<std::wstring> lines;
    };
    const Run runs[] = {
        {SetupExe(), L"/S /LOG=" + Work(L"installed.log"), Work(L"installed.log"), 0,
         {L"setup.exe log", L"system: Windows ", L"digest: the configuration and the payload match it",
          L"folder proposed: " + kDefaultInstallDir, L"installing into " + kDefaultInstallDir, L"创建临时文件",
          L"解压 temp.7z 到 temp 文件夹", L"写注册信息成功", L"installed", L"exit code 0"}},
        {uninstaller, L"/S /LOG=" + Work(L"removed.log"), Work(L"removed.log"), 0,
         {L"uninst.exe log", L"removing, from the copy at", L"installation folder: " + kDefaultInstallDir,
          L"removed (told:", L"exit code 0"}},
        {SetupExe(), L"/S /LOG=" + Work(L"refused.log") + L" /D=" + foreign, Work(L"refused-2.log"), 5,
         {L"folder from /D=: " + foreign, L"folder refused: it holds files that are not this product's",
          L"exit code 5"}},
        {Work(L"no-room.exe"), L"/S /LOG=" + Work(L"no-room.log") + L" /D=" + kDefaultInstallDir, Work(L"no-room.log"), 6,
         {L"folder from /D=: " + kDefaultInstallDir, L"not enough space: drive D: has ",
          L"the product needs 2000000000 MB", L"exit code 6"}},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.arguments);
        EXPECT_EQ(RunToEnd(run.exe, run.arguments), run.code);
        const std::string log = ReadFileBytes(run.log);
        ASSERT_TRUE(log.starts_with("\xEF\xBB\xBF"));
        size_t at = 3;
        for (const std::wstring& line : run.lines) {
            // In the order the run wrote them.
            const size_t found = log.find(WideToCodePage(line, CP_UTF8), at);
            EXPECT_NE(found, std::string::npos) << WideToCodePage(line, CP_UTF8) << "\n" << log;
            at = found == std::string::npos ? at : found;
        }
        for (size_t line = 3; line < log.size();) {
            EXPECT_TRUE(log.compare(line, 2, "20") == 0) << log.substr(line, 40);
            const size_t end = log.find("\r\n", line);
            ASSERT_NE(end, std::string::npos) << "a line left without its end";
            line = end + 2;
        }
    }
    EXPECT_EQ(ReadFileBytes(Work(L"refused.log")), "someone else's log");
    EXPECT_EQ(ReadFileBytes(foreign + L"\\notes.txt"), "someone else's");
}

TEST_F(Wizard, SilentInstallTakesAFolderWithSpacesAndReportsEachFailure)
{
    const std::wstring chosen = L"D:\\e2e\\My Games\\星 河";
    RemoveTree(L"D:\\e2e\\My Games");
    // As typed, and as a shell that quotes an argument with blanks passes it.
    for (const std::wstring& arguments : {L"/S /D=" + chosen, L"/S \"/D=" + chosen + L"\""}) {
        ASSERT_EQ(RunToEnd(SetupExe(), arguments), 0u);
        EXPECT_TRUE(Exists(chosen + L"\\Marvane.exe"));
        EXPECT_EQ(UninstallValue(L"UninstallString"), L"\"" + chosen + L"\\uninst.exe\"");
        RemoveTree(L"D:\\e2e\\My Games");
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey.c_str());
        ::DeleteFileW(DesktopShortcut().c_str());
        RemoveTree(ProgramGroup());
    }

    const std::wstring foreign = Work(L"foreign");
    ASSERT_TRUE(WriteFileBytes(Work(L"foreign-file.txt"), "x"));
    ASSERT_TRUE(::CreateDirectoryW(foreign.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(foreign + L"\\notes.txt", "someone else's"));
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S /D=" + foreign), 5u);
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S /D=D:\\"), 5u);
    for (const wchar_t* form : {L"\\\\?\\", L"\\\\.\\", L"\\??\\", L"//?/"})
        EXPECT_EQ(RunToEnd(SetupExe(), L"/S /D=" + std::wstring(form) + chosen), 5u);
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S /D=games"), 1u);
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S /X"), 1u);
    EXPECT_EQ(ReadFileBytes(foreign + L"\\notes.txt"), "someone else's");
    ExpectNothingInstalled();

    // A running copy of the product keeps its folder: nothing is replaced.
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, kDefaultInstallDir.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\Marvane.exe", "old program"));
    HANDLE held = ::CreateFileW((kDefaultInstallDir + L"\\Marvane.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S"), 7u);
    ::CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\Marvane.exe"), "old program");

    // A damaged installer installs nothing: a payload byte changed in
    // transit, the digest cut short, the payload gone, the table of its
    // entries' SHA-256 forged (a planted program's, so that it would be
    // kept) or gone.
    const std::string cut = ReadResource(SetupExe(), L"DIGEST", 140).substr(0, 32);
    std::string forged = ReadResource(SetupExe(), L"DIGEST", 141);
    ASSERT_GT(forged.size(), 64u);
    forged[0] = forged[0] == '0' ? '1' : '0';
    const std::wstring damaged[] = {
        DamagedCopy(SetupExe(), L"DATA", 148, Work(L"damaged.exe")),
        CopyChangingResource(SetupExe(), Work(L"cut-digest.exe"), L"DIGEST", 140, &cut) ? Work(L"cut-digest.exe")
                                                                                          : L"",
        CopyChangingResource(SetupExe(), Work(L"no-payload.exe"), L"DATA", 148, nullptr) ? Work(L"no-payload.exe")
                                                                                           : L"",
        CopyChangingResource(SetupExe(), Work(L"forged-table.exe"), L"DIGEST", 141, &forged)
            ? Work(L"forged-table.exe")
            : L"",
        CopyChangingResource(SetupExe(), Work(L"no-table.exe"), L"DIGEST", 141, nullptr) ? Work(L"no-table.exe")
                                                                                         : L"",
    };
    for (const std::wstring& exe : damaged) {
        SCOPED_TRACE(exe);
        ASSERT_FALSE(exe.empty());
        EXPECT_EQ(RunToEnd(exe, L"/S"), 3u);
    }

    // The single-instance guard holds for the silent mode too.
    auto wizard = Start(SetupExe());
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S"), 2u);
    EXPECT_EQ(wizard->ShownPageKind(), Page::kWelcome);
}

}  // namespace
