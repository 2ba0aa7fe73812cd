#include "framework/dialog.h"

#include "framework/controls.h"

#include <exception>

namespace framework {

namespace {

// A window property rather than DWLP_USER: RouteThroughDialogs asks windows
// of every kind whether they are ours, and only a property can say no.
constexpr const wchar_t* kDialogProperty = L"framework.Dialog";

void ReportUnexpected(const char* where)
{
    ::OutputDebugStringA(where);
}

}  // namespace

void DataExchange::BindControl(int controlId, Control& control)
{
    if (!control.Attach(::GetDlgItem(dialog_, controlId)))
        failed_ = true;
}

Dialog::Dialog(int templateId, HMODULE module)
    : templateId_(templateId), module_(module ? module : ::GetModuleHandleW(nullptr))
{
}

Dialog::~Dialog()
{
    if (hwnd_) {
        // The window outlives its object: it must not call back into it.
        HWND window = hwnd_;
        Detach();
        ::DestroyWindow(window);
    }
}

Dialog* Dialog::FromWindow(HWND window)
{
    return window ? static_cast<Dialog*>(::GetPropW(window, kDialogProperty)) : nullptr;
}

bool Dialog::Create(HWND parent)
{
    if (hwnd_)
        return false;
    modal_ = false;
    HWND window = ::CreateDialogParamW(module_, MAKEINTRESOURCEW(templateId_), parent, &Dialog::DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    return window != nullptr && hwnd_ == window;
}

INT_PTR Dialog::DoModal(HWND owner)
{
    if (hwnd_)
        return -1;
    modal_ = true;
    endRequested_ = false;
    modalResult_ = IDCANCEL;
    HWND window = ::CreateDialogParamW(module_, MAKEINTRESOURCEW(templateId_), owner, &Dialog::DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    if (!window) {
        modal_ = false;
        return -1;
    }
    const bool disableOwner = owner && ::IsWindowEnabled(owner);
    if (disableOwner)
        ::EnableWindow(owner, FALSE);
    if (!endRequested_)
        ::ShowWindow(window, SW_SHOW);

    MSG message;
    while (!endRequested_ && ::IsWindow(window)) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            if (!OnQuitMessage(static_cast<int>(message.wParam)))
                continue;
            // WM_QUIT belongs to an outer loop: give it back and leave.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (RouteThroughDialogs(message, window))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }

    if (disableOwner)
        ::EnableWindow(owner, TRUE);
    if (::IsWindow(window))
        ::DestroyWindow(window);
    modal_ = false;
    return modalResult_;
}

void Dialog::EndModal(INT_PTR result)
{
    if (!modal_)
        return;
    modalResult_ = result;
    endRequested_ = true;
    // Wakes the loop should the request come from outside a dispatched message.
    if (hwnd_)
        ::PostMessageW(hwnd_, WM_NULL, 0, 0);
}

bool Dialog::PreTranslateMessage(MSG& message)
{
    if (!hwnd_ || message.message < WM_KEYFIRST || message.message > WM_KEYLAST)
        return false;
    return ::IsDialogMessageW(hwnd_, &message) != FALSE;
}

bool Dialog::UpdateData()
{
    if (!hwnd_)
        return false;
    DataExchange exchange(hwnd_);
    DoDataExchange(exchange);
    return !exchange.Failed();
}

BOOL Dialog::OnInitDialog()
{
    UpdateData();
    return TRUE;
}

void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::OnOK()
{
    if (modal_)
        EndModal(IDOK);
}

void Dialog::OnCancel()
{
    if (modal_)
        EndModal(IDCANCEL);
    else if (hwnd_)
        ::ShowWindow(hwnd_, SW_HIDE);
}

bool Dialog::OnQuitMessage(int) { return true; }

bool Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM, LRESULT* result)
{
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            *result = 0;
            return true;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            *result = 0;
            return true;
        }
    }
    return false;
}

LRESULT Dialog::DefaultAnswer(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Dialog::Detach()
{
    if (hwnd_)
        ::RemovePropW(hwnd_, kDialogProperty);
    hwnd_ = nullptr;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (message == WM_INITDIALOG) {
            auto* self = reinterpret_cast<Dialog*>(lParam);
            if (!self || !::SetPropW(window, kDialogProperty, self))
                return TRUE;
            self->hwnd_ = window;
            return self->OnInitDialog();
        }
        Dialog* self = FromWindow(window);
        if (!self)
            return FALSE;
        if (message == WM_NCDESTROY) {
            self->Detach();
            return FALSE;
        }
        return self->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& error) {
        ReportUnexpected(error.what());
    } catch (...) {
        ReportUnexpected("unexpected exception in a dialog procedure");
    }
    return FALSE;
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!Dispatch(message, wParam, lParam, &result))
        return FALSE;
    // A colour message answers its brush directly; every other message
    // passes its result through DWLP_MSGRESULT.
    if (IsCtlColorMessage(message))
        return static_cast<INT_PTR>(result);
    if (hwnd_)
        ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
    return TRUE;
}

void CenterOverParent(HWND window)
{
    HWND parent = ::GetParent(window);
    if (!parent)
        return;
    RECT own{};
    RECT around{};
    if (!::GetWindowRect(window, &own) || !::GetWindowRect(parent, &around))
        return;
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    POINT place{around.left + (around.right - around.left - width) / 2,
                around.top + (around.bottom - around.top - height) / 2};
    if (::GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD)
        ::ScreenToClient(parent, &place);
    ::SetWindowPos(window, nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool RouteThroughDialogs(MSG& message, HWND top)
{
    for (HWND window = message.hwnd; window; window = ::GetParent(window)) {
        if (Dialog* dialog = Dialog::FromWindow(window)) {
            if (dialog->PreTranslateMessage(message))
                return true;
        }
        if (window == top)
            break;
    }
    return false;
}

}  // namespace framework
