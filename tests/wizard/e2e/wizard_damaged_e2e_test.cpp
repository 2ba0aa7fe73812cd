// What the wizard meets that is not as it should be: a folder in use, a
// payload or a download damaged, and a comctl32 planted beside setup.exe.
#include "e2e/fixture.h"

#include <utility>

using namespace e2e;

namespace {

TEST_F(Wizard, FolderInUseStopsTheReplacementWithItsErrorBox)
{
    HANDLE held = HoldEarlierProgram();
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
    EXPECT_EQ(wizard->CountBoxes(kErrorCaption), 0);
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
    EXPECT_EQ(wizard->CountBoxes(kErrorCaption), 0);
    ExpectNothingInstalled();
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

TEST_F(Wizard, DamagedDownloadShowsOneBoxWritesNothingAndEnds)
{
    for (const auto& [type, id] : {std::pair{L"INI", 138}, std::pair{L"DATA", 148}}) {
        SCOPED_TRACE(type);
        ::DeleteFileW(RunConfigFile().c_str());
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
        EXPECT_FALSE(Exists(RunConfigFile()));
        ExpectNothingInstalled();
    }
}

}  // namespace
