// Every way out of the wizard before its end: Cancel on a page, the cancel
// question during the extraction answered either way, the close box, other
// programs' close and quit messages, late clicks, Ctrl+Break, Enter and
// Escape.
#include "e2e/fixture.h"

using namespace e2e;

namespace {

const std::wstring kCancelQuestion =
    L"安装还没有完成。如果您现在关闭安装\n程序，程序将不会安装到您的电脑中。\r\n选择“确定”退出安装。\r\n选择“取消”继续安装 。";

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
    ASSERT_TRUE(Exists(RunConfigFile()));
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
    ExpectInstalled();
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
    ASSERT_NE(ToDestination(*wizard), nullptr);
    ::PostMessageW(wizard->Frame(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(wizard->WaitForExit());
    ExpectNoTemporaryFiles();
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
    EXPECT_EQ(wizard->CountBoxes(kQuestionCaption), 1);
    ::PostThreadMessageW(::GetWindowThreadProcessId(wizard->Frame(), nullptr), WM_QUIT, 0, 0);
    ::Sleep(500);
    EXPECT_FALSE(wizard->WaitForExit(0));
    // The box may have been ended by the quit; if not, the user goes on.
    if (HWND still = wizard->FindBox(kQuestionCaption))
        AnswerBox(still, IDCANCEL);
    ASSERT_NE(wizard->WaitForPage(Page::kFinish, 120000), nullptr);
    ExpectInstalled();
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
    HWND destination = Press(*wizard, welcome, kNext, Page::kDestination);
    ASSERT_NE(destination, nullptr);
    PressKey(wizard->FocusWindow(), VK_CANCEL);
    HWND ready = Press(*wizard, destination, kNext, Page::kReady);
    ASSERT_NE(ready, nullptr);
    PressKey(wizard->FocusWindow(), VK_CANCEL);
    Click(ready, kInstall);
    HWND installing = Press(*wizard, ready, kInstall, Page::kInstalling);
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
    EXPECT_TRUE(Exists(RunConfigFile()));
}

}  // namespace
