// The dialog and thread layer: message tables, the modal loop's
// pre-filtering, data exchange and the self-deleting worker thread, with
// real windows.
#include "framework/application.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/worker_thread.h"
#include "framework_test_ids.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

constexpr UINT WM_TEST_FINISH = WM_APP + 1;

class TestPage : public framework::DialogImpl<TestPage> {
public:
    TestPage() : DialogImpl(IDD_TEST_PAGE) {}

    bool swallowEnter = false;
    bool bindMissing = false;
    int okCount = 0;
    int otherCount = 0;
    HBRUSH defaultBrushSeen = nullptr;
    HBRUSH answer = reinterpret_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    framework::ListBox list;
    framework::Control missing;

    bool PreTranslateMessage(MSG& message) override
    {
        if (swallowEnter && message.message == WM_KEYDOWN && message.wParam == VK_RETURN)
            return true;
        return Dialog::PreTranslateMessage(message);
    }

    void OnOther() { ++otherCount; }
    void OnThrow() { throw std::runtime_error("handler failed"); }
    HBRUSH OnColor(HDC, HWND, HBRUSH defaultBrush)
    {
        defaultBrushSeen = defaultBrush;
        return answer;
    }

    static std::span<const Entry> MessageTable()
    {
        static constexpr Entry kTable[] = {
            Entry::Command<&TestPage::OnOther>(IDC_TEST_OTHER),
            Entry::Command<&TestPage::OnThrow>(IDC_TEST_LABEL),
            Entry::CtlColor<&TestPage::OnColor>(),
        };
        return kTable;
    }

protected:
    void OnOK() override { ++okCount; }
    void DoDataExchange(framework::DataExchange& exchange) override
    {
        exchange.BindControl(IDC_TEST_LIST, list);
        if (bindMissing)
            exchange.BindControl(IDC_TEST_MISSING, missing);
    }
};

// A modal frame holding one page; on start it posts the keys it is told to
// the page's OK button and then asks itself to finish.
class TestFrame : public framework::DialogImpl<TestFrame> {
public:
    TestFrame() : DialogImpl(IDD_TEST_FRAME) {}

    TestPage page;
    bool postEnter = true;
    bool createdPage = false;

    LRESULT OnFinish(WPARAM result, LPARAM)
    {
        EndModal(static_cast<INT_PTR>(result));
        return 0;
    }

    static std::span<const Entry> MessageTable()
    {
        static constexpr Entry kTable[] = {
            Entry::Message<&TestFrame::OnFinish>(WM_TEST_FINISH),
        };
        return kTable;
    }

protected:
    BOOL OnInitDialog() override
    {
        Dialog::OnInitDialog();
        createdPage = page.Create(Window());
        ::ShowWindow(page.Window(), SW_SHOW);
        HWND ok = ::GetDlgItem(page.Window(), IDOK);
        ::SetFocus(ok);
        if (postEnter)
            ::PostMessageW(ok, WM_KEYDOWN, VK_RETURN, 1);
        ::PostMessageW(Window(), WM_TEST_FINISH, 42, 0);
        return FALSE;
    }
};

TEST(ModalLoop, PageSeesEnterBeforeTheDialogManager)
{
    TestFrame frame;
    frame.page.swallowEnter = true;
    EXPECT_EQ(frame.DoModal(), 42);
    EXPECT_TRUE(frame.createdPage);
    EXPECT_EQ(frame.page.okCount, 0);
}

TEST(ModalLoop, UnfilteredEnterPressesThePageDefaultButton)
{
    // The control experiment for the test above: the key does reach the
    // dialog manager of the page when nobody swallows it.
    TestFrame frame;
    EXPECT_EQ(frame.DoModal(), 42);
    EXPECT_EQ(frame.page.okCount, 1);
}

TEST(ModalLoop, OwnerIsDisabledWhileRunningAndEnabledAfter)
{
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    struct Probe : TestFrame {
        HWND owner = nullptr;
        bool ownerEnabledInside = true;
        BOOL OnInitDialog() override
        {
            ownerEnabledInside = ::IsWindowEnabled(owner) != FALSE;
            return TestFrame::OnInitDialog();
        }
    };
    Probe frame;
    frame.owner = owner;
    frame.postEnter = false;
    EXPECT_EQ(frame.DoModal(owner), 42);
    EXPECT_TRUE(::IsWindowEnabled(owner));
    EXPECT_EQ(frame.Window(), nullptr);
    ::DestroyWindow(owner);
}

// A plain popup to hold pages, which are child windows.
struct Host {
    Host() { window = ::CreateWindowExW(0, L"STATIC", L"host", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr); }
    ~Host() { ::DestroyWindow(window); }
    HWND window;
};

class PageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(page.Create(host.window)); }
    Host host;
    TestPage page;
};

TEST_F(PageTest, CommandReachesItsHandlerOnlyForItsNotification)
{
    HWND other = ::GetDlgItem(page.Window(), IDC_TEST_OTHER);
    ::SendMessageW(page.Window(), WM_COMMAND, MAKEWPARAM(IDC_TEST_OTHER, BN_SETFOCUS), reinterpret_cast<LPARAM>(other));
    EXPECT_EQ(page.otherCount, 0);
    ::SendMessageW(other, BM_CLICK, 0, 0);
    EXPECT_EQ(page.otherCount, 1);
}

TEST_F(PageTest, ColourHandlerStartsFromTheSystemBrushAndAnswersItsOwn)
{
    HWND label = ::GetDlgItem(page.Window(), IDC_TEST_LABEL);
    HDC dc = ::GetDC(label);
    const LRESULT brush =
        ::SendMessageW(page.Window(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
    ::ReleaseDC(label, dc);
    EXPECT_NE(page.defaultBrushSeen, nullptr);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), page.answer);
}

TEST_F(PageTest, ExceptionInAHandlerStopsAtTheWindowProcedure)
{
    HWND label = ::GetDlgItem(page.Window(), IDC_TEST_LABEL);
    ::SendMessageW(page.Window(), WM_COMMAND, MAKEWPARAM(IDC_TEST_LABEL, BN_CLICKED), reinterpret_cast<LPARAM>(label));
    ::SendMessageW(::GetDlgItem(page.Window(), IDC_TEST_OTHER), BM_CLICK, 0, 0);
    EXPECT_EQ(page.otherCount, 1);
}

TEST_F(PageTest, DataExchangeBindsTheControlObject)
{
    ASSERT_EQ(page.list.Window(), ::GetDlgItem(page.Window(), IDC_TEST_LIST));
    page.list.AddString(L"目标位置:");
    EXPECT_EQ(page.list.Count(), 1);
    EXPECT_EQ(page.list.Line(0), L"目标位置:");
}

TEST(DataExchange, MissingControlFailsTheExchange)
{
    Host host;
    TestPage page;
    page.bindMissing = true;
    ASSERT_TRUE(page.Create(host.window));
    EXPECT_FALSE(page.missing);
    EXPECT_FALSE(page.UpdateData());
}

TEST(DialogLifetime, ObjectDestroyedBeforeItsWindowTakesTheWindowAlong)
{
    Host host;
    HWND window = nullptr;
    {
        TestPage page;
        ASSERT_TRUE(page.Create(host.window));
        window = page.Window();
        EXPECT_EQ(framework::Dialog::FromWindow(window), &page);
    }
    EXPECT_FALSE(::IsWindow(window));
}

TEST(DialogLifetime, WindowDestroyedFirstLeavesTheObjectDetached)
{
    Host host;
    TestPage page;
    ASSERT_TRUE(page.Create(host.window));
    ::DestroyWindow(page.Window());
    EXPECT_EQ(page.Window(), nullptr);
}

unsigned __stdcall StoreAndWait(void* parameter)
{
    auto* event = static_cast<HANDLE>(parameter);
    ::WaitForSingleObject(event, INFINITE);
    return 7;
}

unsigned __stdcall Throw(void*) { throw std::runtime_error("worker failed"); }

TEST(WorkerThread, ObjectLivesWhileEitherSideHoldsIt)
{
    HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto thread = framework::WorkerThread::Start(&StoreAndWait, go);
    ASSERT_TRUE(thread);
    std::weak_ptr<framework::WorkerThread> watch = thread;
    EXPECT_TRUE(thread->Running());
    thread.reset();
    // The starter let go while the procedure runs: the thread's own hold
    // keeps the object.
    EXPECT_FALSE(watch.expired());
    ::SetEvent(go);
    const DWORD deadline = ::GetTickCount() + 5000;
    while (!watch.expired() && ::GetTickCount() < deadline)
        ::Sleep(5);
    EXPECT_TRUE(watch.expired());
    ::CloseHandle(go);
}

TEST(WorkerThread, ResultIsTheProcedures)
{
    HANDLE go = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    auto thread = framework::WorkerThread::Start(&StoreAndWait, go);
    ASSERT_TRUE(thread);
    ASSERT_TRUE(thread->Wait(5000));
    EXPECT_FALSE(thread->Running());
    EXPECT_EQ(thread->ExitCode(), 7u);
    ::CloseHandle(go);
}

TEST(WorkerThread, ExceptionEndsOnlyTheThread)
{
    auto thread = framework::WorkerThread::Start(&Throw, nullptr);
    ASSERT_TRUE(thread);
    ASSERT_TRUE(thread->Wait(5000));
    EXPECT_EQ(thread->ExitCode(), 1u);
}

TEST(ApplicationName, IsTheFileNameWithoutFolderAndExtension)
{
    EXPECT_EQ(framework::ApplicationNameFromPath(L"C:\\Downloads\\setup.exe"), L"setup");
    EXPECT_EQ(framework::ApplicationNameFromPath(L"D:\\a.b\\游戏 setup.v2.exe"), L"游戏 setup.v2");
    EXPECT_EQ(framework::ApplicationNameFromPath(L"C:\\tools\\setup"), L"setup");
}

}  // namespace
