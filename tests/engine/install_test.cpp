// The whole installation sequence on a real page window, with the real
// services in a scratch folder, the prefix's desktop, Start menu and
// registry, and faults injected where the system cannot be made to fail.
#include "engine/install_engine.h"
#include "test_page.h"

#include <commctrl.h>

#include "config/config.h"
#include "support/test_support.h"
#include "system/file_ops.h"
#include "system/shortcuts.h"
#include "system/trace.h"
#include "system/uninstall.h"

#include <map>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr const wchar_t* kLinkName = L"引擎测试棋牌";
constexpr const wchar_t* kRepairLinkName = L"引擎测试修复";
constexpr const wchar_t* kGroup = L"引擎测试棋牌";

void RecordTrace(void* context, const wchar_t* line)
{
    static_cast<std::vector<std::wstring>*>(context)->push_back(line);
}

bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Fails the one step it is told to, passing every other call to the real service.
class FaultyServices : public InstallServices {
public:
    explicit FaultyServices(int failStep) : failStep_(failStep) {}

    int CreateFolderTree(const wchar_t* path) override
    {
        return failStep_ == 1 ? 0 : InstallServices::CreateFolderTree(path);
    }
    bool OpenPayload(HMODULE module, ResourceWindow* payload) override
    {
        return failStep_ == 2 ? false : InstallServices::OpenPayload(module, payload);
    }
    bool Decode(CSPPackage& package, const ResourceWindow& payload, const wchar_t* folder, int32_t* current) override
    {
        const bool ok = InstallServices::Decode(package, payload, folder, current);
        return failStep_ == 4 ? false : ok;
    }
    int CopyPath(const wchar_t* destination, const wchar_t* source) override
    {
        return failStep_ == 6 ? 0 : InstallServices::CopyPath(destination, source);
    }
    int RenamePath(const wchar_t* newPath, const wchar_t* existingPath) override
    {
        // Step 7 refuses only the rename into place; moving back still works.
        if (failStep_ == 7 && EndsWith(existingPath, L".temp"))
            return 0;
        return InstallServices::RenamePath(newPath, existingPath);
    }
    bool CreateDesktopShortcut(const wchar_t* target, const wchar_t* name, const wchar_t* arguments) override
    {
        return failStep_ == 9 ? false : InstallServices::CreateDesktopShortcut(target, name, arguments);
    }
    bool CreateProgramGroup(HWND owner, const wchar_t* group) override
    {
        return failStep_ == 10 ? false : InstallServices::CreateProgramGroup(owner, group);
    }
    bool CreateGroupShortcut(HWND owner, const wchar_t* target, const wchar_t* group, const wchar_t* name,
                             const wchar_t* arguments) override
    {
        ++groupShortcuts_;
        if (failStep_ == 10 + groupShortcuts_)
            return false;
        return InstallServices::CreateGroupShortcut(owner, target, group, name, arguments);
    }
    bool RegisterUninstall() override { return failStep_ == 13 ? false : InstallServices::RegisterUninstall(); }

private:
    int failStep_;
    int groupShortcuts_ = 0;
};

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(WriteConfigFile(nullptr), 1);
        installDir = scratch.Join(L"Games\\Tovani");
        ASSERT_TRUE(WriteSetting(kKeySetupDir, installDir));
        ASSERT_EQ(CreateFolderTree(scratch.Join(L"Games").c_str()), 1);
        RemoveLeftovers();
        SetInstallTraceSink(RecordTrace, &trace);
        payload = ReadTree(TestSourcePath(L"engine\\product"));
    }
    void TearDown() override
    {
        SetInstallTraceSink(nullptr, nullptr);
        RemoveLeftovers();
        DeleteConfigFile();
        RemoveRunFolder();
    }

    static void RemoveLeftovers()
    {
        RemoveDesktopShortcut(kLinkName);
        RemoveProgramGroup(nullptr, kGroup);
        RemoveUninstallEntry();
    }

    // An earlier installation: its own main program, user data and a file
    // the new version no longer has.
    void MakeEarlierInstallation()
    {
        ASSERT_EQ(CreateFolderTree((installDir + L"\\data").c_str()), 1);
        WriteBytes(installDir + L"\\Marvane.exe", "old main program\r\n");
        WriteBytes(installDir + L"\\UserSetting.ini", "[user]\r\nname=player one\r\n");
        WriteBytes(installDir + L"\\old_only.txt", "only in the old version\r\n");
        WriteBytes(installDir + L"\\data\\levels.dat", "level data v1\r\n");
    }

    bool Run(InstallServices* services = nullptr)
    {
        engine = std::make_unique<InstallEngine>(nullptr, services);
        EXPECT_TRUE(engine->Attach(page.window()));
        return page.RunWorker(*engine);
    }

    bool Succeeded() const
    {
        bool ok = false;
        return engine->WorkerEnded(&ok) && ok;
    }

    // Nothing of the run is left outside the installation folder.
    void ExpectRolledBack()
    {
        EXPECT_FALSE(Exists(DesktopShortcutPath(kLinkName)));
        EXPECT_FALSE(Exists(GroupShortcutPath(nullptr, kGroup, kLinkName)));
        HKEY key = nullptr;
        EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyPath(kGroup).c_str(), 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        if (key)
            ::RegCloseKey(key);
        EXPECT_FALSE(Exists(installDir + L".temp"));
        EXPECT_FALSE(Exists(installDir + L".old"));
        EXPECT_EQ(engine->Progress().progressPosition.Get(), 0);
    }

    ScratchDir scratch;
    TestPage page;
    std::unique_ptr<InstallEngine> engine;
    std::wstring installDir;
    std::vector<std::wstring> trace;
    std::map<std::wstring, std::string> payload;
};


TEST_F(InstallTest, FreshInstallationPutsEverythingInPlace)
{
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    EXPECT_TRUE(page.failures.empty());

    EXPECT_EQ(ReadTree(installDir), payload);
    EXPECT_FALSE(Exists(JoinPath(TempDirectory(), L"temp.7z")));
    EXPECT_FALSE(Exists(installDir + L".temp"));

    EXPECT_TRUE(Exists(DesktopShortcutPath(kLinkName)));
    EXPECT_TRUE(Exists(GroupShortcutPath(nullptr, kGroup, kLinkName)));
    EXPECT_TRUE(Exists(GroupShortcutPath(nullptr, kGroup, kRepairLinkName)));
    wchar_t uninstall[MAX_PATH] = {};
    DWORD size = sizeof(uninstall);
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, UninstallKeyPath(kGroup).c_str(), L"UninstallString", RRF_RT_REG_SZ,
                             nullptr, uninstall, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(uninstall), L"\"" + installDir + L"\\uninst.exe\"");

    // The bar spans 0..N+6 and ends there; the last increment is never drawn.
    const int n = static_cast<int>(engine->Progress().progressTotal.Get());
    EXPECT_EQ(n, static_cast<int>(payload.size()));
    ASSERT_FALSE(page.rangeTops.empty());
    EXPECT_EQ(page.rangeTops.back(), n + 6);
    EXPECT_EQ(engine->Progress().progressPosition.Get(), n + 6);
    EXPECT_EQ(page.positions.back(), n + 5);

    // Status texts in order, each shown once as it changes.
    const std::vector<std::wstring> statuses = {L"正在准备安装文件...", L"正在解压文件", L"正在覆盖旧版本文件...",
                                                L"正在创建桌面快捷方式...", L"正在创建程序组...",
                                                L"正在创建程序组快捷方式...", L"正在写注册信息..."};
    EXPECT_EQ(page.statusTexts, statuses);
    // The repair shortcut's detail is the repair program's file name.
    ASSERT_GE(page.detailTexts.size(), 3u);
    EXPECT_EQ(page.detailTexts[page.detailTexts.size() - 3], kLinkName);
    EXPECT_EQ(page.detailTexts[page.detailTexts.size() - 2], L"Marvane.exe");

    const std::vector<std::wstring> expectedTrace = {
        L"创建临时文件\r\n", L"将资源写入临时文件 temp.7z\r\n", L"解压 temp.7z 到 temp 文件夹\r\n",
        L"删除temp.7z\r\n", L"删除旧版本文件\r\n", L"重命名文件夹\r\n", L"创建桌面快捷方式\r\n",
        L"正在创建程序组\r\n", L"正在创建程序组快捷方式1\r\n", L"正在创建程序组快捷方式2\r\n",
        L"创建注册表子项\r\n", L"创建注册表子项成功!\r\n", L"写注册表 Publisher\r\n",
        L"写注册表 DisplayName\r\n", L"写注册表 DisplayVersion\r\n", L"写注册表 DisplayIcon\r\n",
        L"写注册表 UninstallString\r\n", L"写注册信息成功\r\n", L"安装线程退出\r\n"};
    EXPECT_EQ(trace, expectedTrace);
}

TEST_F(InstallTest, UpgradeKeepsTheUserDataAndDropsTheOldVersion)
{
    MakeEarlierInstallation();
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    auto expected = payload;
    expected[L"UserSetting.ini"] = "[user]\r\nname=player one\r\n";
    EXPECT_EQ(ReadTree(installDir), expected);
    EXPECT_FALSE(Exists(installDir + L".old"));
    EXPECT_NE(std::find(page.statusTexts.begin(), page.statusTexts.end(), L"正在删除旧版本文件..."),
              page.statusTexts.end());
}

// The core reliability check: whichever step fails, the run reports where it
// stood, counts the bar back, and leaves nothing of itself behind; up to the
// replacement the earlier installation is untouched, after it the new one stands.
TEST_F(InstallTest, FailureAtAnyStepRollsBackCleanly)
{
    for (const int step : {1, 2, 4, 6, 7, 9, 10, 11, 12, 13}) {
        SCOPED_TRACE("failing step " + std::to_string(step));
        RemoveTree(installDir);
        RemoveTree(installDir + L".temp");
        MakeEarlierInstallation();
        const auto before = ReadTree(installDir);
        page.positions.clear();
        page.failures.clear();

        FaultyServices services(step);
        ASSERT_TRUE(Run(&services));
        EXPECT_FALSE(Succeeded());
        ASSERT_EQ(page.failures.size(), 1u);
        const int n = static_cast<int>(payload.size());
        const WPARAM expectedSteps = step <= 2 ? 0 : static_cast<WPARAM>(n - 1);
        EXPECT_EQ(page.failures[0], expectedSteps);
        if (expectedSteps > 0) {
            // Counted back from the last entry to 1, then redrawn once by the rollback.
            std::vector<int> countdown;
            for (int p = static_cast<int>(expectedSteps); p >= 1; --p)
                countdown.push_back(p);
            countdown.push_back(1);
            ASSERT_GE(page.positions.size(), countdown.size());
            EXPECT_EQ(std::vector<int>(page.positions.end() - static_cast<long>(countdown.size()),
                                       page.positions.end()),
                      countdown);
        }
        ExpectRolledBack();
        if (step <= 7) {
            EXPECT_EQ(ReadTree(installDir), before);
        } else {
            auto expected = payload;
            expected[L"UserSetting.ini"] = "[user]\r\nname=player one\r\n";
            EXPECT_EQ(ReadTree(installDir), expected);
        }
        if (step == 7) {
            EXPECT_EQ(page.closes, 1);
        }
        page.closes = 0;
    }
}

TEST_F(InstallTest, FileInUseLeavesTheEarlierInstallationWhole)
{
    MakeEarlierInstallation();
    const auto before = ReadTree(installDir);
    HANDLE held = ::CreateFileW((installDir + L"\\data\\levels.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    MessageBoxAnswerer answerer(L"错误提示");
    ASSERT_TRUE(Run());
    ::CloseHandle(held);
    EXPECT_FALSE(Succeeded());
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{L"覆盖安装文件出错！源程序正在运行， 请关闭后重试！"});
    EXPECT_EQ(ReadTree(installDir), before);
    ExpectRolledBack();
}

TEST_F(InstallTest, SomeoneElsesFolderIsNotTouched)
{
    ASSERT_EQ(CreateFolderTree(installDir.c_str()), 1);
    WriteBytes(installDir + L"\\notes.txt", "not a game\r\n");
    MessageBoxAnswerer answerer(L"错误提示");
    ASSERT_TRUE(Run());
    EXPECT_FALSE(Succeeded());
    ASSERT_EQ(page.failures, std::vector<WPARAM>{0});
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{L"安装目录中已有其他文件，请选择其他安装目录！"});
    EXPECT_EQ(ReadTree(installDir), (std::map<std::wstring, std::string>{{L"notes.txt", "not a game\r\n"}}));
    EXPECT_FALSE(Exists(installDir + L".temp"));
}

TEST_F(InstallTest, AForeignStagingFolderIsNeitherUsedNorDeleted)
{
    ASSERT_EQ(CreateFolderTree((installDir + L".temp").c_str()), 1);
    WriteBytes(installDir + L".temp\\mine.txt", "someone's\r\n");
    ASSERT_TRUE(Run());
    EXPECT_FALSE(Succeeded());
    EXPECT_EQ(page.failures, std::vector<WPARAM>{0});
    EXPECT_EQ(ReadBytes(installDir + L".temp\\mine.txt"), "someone's\r\n");
    EXPECT_FALSE(Exists(installDir));
}

TEST_F(InstallTest, ALeftoverStagingFolderOfOursIsEmptiedAndUsed)
{
    // A first run cancelled from outside leaves its staging folder behind.
    ASSERT_EQ(CreateFolderTree((installDir + L".temp").c_str()), 1);
    WriteBytes(installDir + L".temp\\~setup-staging.tag", "");
    WriteBytes(installDir + L".temp\\half.tmp", "partial\r\n");
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    EXPECT_EQ(ReadTree(installDir), payload);
}

TEST_F(InstallTest, RootsSystemFoldersAndTrailingBackslashesAreSafe)
{
    wchar_t windows[MAX_PATH];
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    for (const std::wstring& refused : {std::wstring(L"C:\\"), std::wstring(L"C:"), std::wstring(windows),
                                        std::wstring(L"C:\\users"), std::wstring(L"relative\\Tovani"),
                                        std::wstring(L"")}) {
        SCOPED_TRACE(WideToUtf8(refused));
        ASSERT_TRUE(WriteSetting(kKeySetupDir, refused));
        page.failures.clear();
        ASSERT_TRUE(Run());
        EXPECT_FALSE(Succeeded());
        EXPECT_EQ(page.failures, std::vector<WPARAM>{0});
        EXPECT_EQ(trace.size(), 0u);
    }
    EXPECT_TRUE(Exists(std::wstring(windows) + L"\\system32"));

    // With a trailing backslash the staging folder still lies beside the
    // installation, so replacing it cannot delete the new files.
    MakeEarlierInstallation();
    ASSERT_TRUE(WriteSetting(kKeySetupDir, installDir + L"\\"));
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    auto expected = payload;
    expected[L"UserSetting.ini"] = "[user]\r\nname=player one\r\n";
    EXPECT_EQ(ReadTree(installDir), expected);
}

TEST_F(InstallTest, CancelAfterAnEntryStopsThereAndRollsBack)
{
    MakeEarlierInstallation();
    const auto before = ReadTree(installDir);
    engine = std::make_unique<InstallEngine>(nullptr, nullptr);
    ASSERT_TRUE(engine->Attach(page.window()));
    // Entry 2 completes, entry 3 is not begun.
    engine->Package().SetGate([](void* context) {
        auto* self = static_cast<InstallEngine*>(context);
        if (self->Progress().progressPosition.Get() == 2)
            self->StopExtraction();
    });
    ASSERT_TRUE(page.RunWorker(*engine));
    EXPECT_FALSE(Succeeded());
    EXPECT_EQ(page.failures, std::vector<WPARAM>{2});
    EXPECT_EQ(std::vector<int>(page.positions.end() - 3, page.positions.end()), (std::vector<int>{2, 1, 1}));
    ExpectRolledBack();
    EXPECT_EQ(ReadTree(installDir), before);
}

TEST_F(InstallTest, PausedWorkerTakesNoStepUntilResumed)
{
    bool paused = false;
    int32_t positionAtPause = -1;
    page.onDetail = [&](const std::wstring&) {
        if (paused)
            return;
        paused = true;
        engine->PauseWorker();
        // Whatever the worker had in hand is drawn; then nothing moves while
        // the question would be open.
        page.Pump(100);
        positionAtPause = engine->Progress().progressPosition.Get();
        const size_t textsAtPause = page.detailTexts.size();
        page.Pump(400);
        EXPECT_EQ(engine->Progress().progressPosition.Get(), positionAtPause);
        EXPECT_EQ(page.detailTexts.size(), textsAtPause);
        EXPECT_EQ(engine->Progress().workerRunning.Get(), 1);
        engine->ResumeWorker();
    };
    ASSERT_TRUE(Run());
    EXPECT_TRUE(Succeeded());
    // The pause caught the worker before its last step: during the extraction
    // or, when the worker unpacked the few entries before the page drew the
    // first, at one of the steps after it.
    EXPECT_LT(positionAtPause, static_cast<int32_t>(payload.size()) + 6);
    EXPECT_EQ(ReadTree(installDir), payload);
}

TEST(ProgressRange, TheBarHoldsAnyNumberOfEntries)
{
    TestPage page;
    InstallEngine engine;
    ASSERT_TRUE(engine.Attach(page.window()));
    HWND bar = ::GetDlgItem(page.window(), IDC_INSTALL_PROGRESS);
    // The 16-bit range message up to its last value, the 32-bit one beyond.
    for (const int32_t total : {0, 100, 65529, 65530, 70000, 1000000}) {
        SCOPED_TRACE(total);
        engine.Progress().progressTotal.Set(total);
        engine.Progress().progressPosition.Set(total - 1);
        engine.RefreshProgressBar();
        ASSERT_FALSE(page.rangeTops.empty());
        EXPECT_EQ(page.rangeTops.back(), total + 6);
        EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), total + 6);
        EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), total > 0 ? total - 1 : 0);
    }
}

// The payload is read where the engine found it at start: nobody can write
// the file that holds it while the engine lives.
TEST(Payload, TheFileHoldingItCannotBeChangedWhileTheEngineLives)
{
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    InstallEngine engine;
    for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
        HANDLE writer = ::CreateFileW(self, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << access;
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << access;
        if (writer != INVALID_HANDLE_VALUE)
            ::CloseHandle(writer);
    }
    const std::wstring moved = std::wstring(self) + L".moved";
    EXPECT_FALSE(::MoveFileW(self, moved.c_str()));
    ::MoveFileW(moved.c_str(), self);
}

}  // namespace
