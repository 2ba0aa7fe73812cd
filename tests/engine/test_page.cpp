#include "test_page.h"

#include <commctrl.h>
#include <process.h>

namespace {

constexpr const wchar_t* kPageClass = L"EngineTestPage";

void RegisterPageClass(WNDPROC proc)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kPageClass;
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    ::RegisterClassW(&wc);
}

}  // namespace

TestPage::TestPage()
{
    ::InitCommonControls();
    RegisterPageClass(PageProc);
    window_ = ::CreateWindowExW(0, kPageClass, L"installing", WS_OVERLAPPEDWINDOW, 0, 0, 500, 300, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), this);
    auto child = [&](const wchar_t* cls, int id, int y, DWORD style) {
        HWND h = ::CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, 10, y, 460, 20, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                   nullptr);
        ::SetWindowSubclass(h, ControlProc, id, reinterpret_cast<DWORD_PTR>(this));
    };
    child(L"STATIC", IDC_INSTALL_STATUS, 10, 0);
    child(L"STATIC", IDC_INSTALL_DETAIL, 40, 0);
    child(PROGRESS_CLASSW, IDC_INSTALL_PROGRESS, 70, WS_BORDER);
    ::ShowWindow(window_, SW_SHOWNOACTIVATE);
}

TestPage::~TestPage()
{
    if (window_)
        ::DestroyWindow(window_);
}

LRESULT CALLBACK TestPage::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* page = reinterpret_cast<TestPage*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (page && message == WM_INSTALL_FAILED) {
        page->failures.push_back(wParam);
        return page->engine_ ? page->engine_->OnInstallFailed(wParam) : 0;
    }
    if (page && message == WM_CLOSE) {
        ++page->closes;
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK TestPage::ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR data)
{
    auto* page = reinterpret_cast<TestPage*>(data);
    if (message == WM_SETTEXT) {
        const std::wstring text = lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
        if (id == IDC_INSTALL_STATUS)
            page->statusTexts.push_back(text);
        if (id == IDC_INSTALL_DETAIL) {
            page->detailTexts.push_back(text);
            if (page->onDetail)
                page->onDetail(text);
        }
    }
    if (id == IDC_INSTALL_PROGRESS && message == PBM_SETPOS)
        page->positions.push_back(static_cast<int>(wParam));
    if (id == IDC_INSTALL_PROGRESS && message == PBM_SETRANGE)
        page->rangeTops.push_back(HIWORD(lParam));
    if (id == IDC_INSTALL_PROGRESS && message == PBM_SETRANGE32)
        page->rangeTops.push_back(static_cast<int>(lParam));
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

void TestPage::Pump(DWORD milliseconds)
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    while (::GetTickCount64() < end) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

bool TestPage::RunWorker(InstallEngine& engine)
{
    engine_ = &engine;
    HANDLE thread = reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, &InstallEngine::InstallThreadProc, &engine, 0, nullptr));
    engine.SignalStart();
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    bool ended = false;
    while (!ended && ::GetTickCount64() < deadline) {
        ::MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ended = engine.WorkerEnded(nullptr);
    }
    if (ended)
        ::WaitForSingleObject(thread, 10000);
    ::CloseHandle(thread);
    engine_ = nullptr;
    return ended;
}

MessageBoxAnswerer::MessageBoxAnswerer(const wchar_t* caption)
    : caption_(caption), stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    ::InitializeCriticalSection(&lock_);
    thread_ = ::CreateThread(nullptr, 0, Watch, this, 0, nullptr);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    ::SetEvent(stop_);
    ::WaitForSingleObject(thread_, INFINITE);
    ::CloseHandle(thread_);
    ::CloseHandle(stop_);
    ::DeleteCriticalSection(&lock_);
}

std::vector<std::wstring> MessageBoxAnswerer::Texts()
{
    ::EnterCriticalSection(&lock_);
    auto copy = texts_;
    ::LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI MessageBoxAnswerer::Watch(void* parameter)
{
    auto* self = static_cast<MessageBoxAnswerer*>(parameter);
    while (::WaitForSingleObject(self->stop_, 20) == WAIT_TIMEOUT) {
        HWND box = ::FindWindowW(L"#32770", self->caption_.c_str());
        if (!box || !::IsWindowVisible(box))
            continue;
        wchar_t text[512] = {};
        // A message box shows its text in the static control 0xFFFF.
        ::GetDlgItemTextW(box, 0xFFFF, text, static_cast<int>(std::size(text)));
        ::EnterCriticalSection(&self->lock_);
        self->texts_.push_back(text);
        ::LeaveCriticalSection(&self->lock_);
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        while (::IsWindow(box) && ::WaitForSingleObject(self->stop_, 20) == WAIT_TIMEOUT) {
        }
    }
    return 0;
}
