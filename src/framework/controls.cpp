#include "framework/controls.h"

#include <commctrl.h>

namespace framework {

bool Control::Attach(HWND window)
{
    if (!window || !::IsWindow(window))
        return false;
    hwnd_ = window;
    return true;
}

std::wstring Control::Text() const
{
    if (!hwnd_)
        return {};
    const int length = ::GetWindowTextLengthW(hwnd_);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(hwnd_, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

bool Control::SetText(const std::wstring& text) const { return hwnd_ && ::SetWindowTextW(hwnd_, text.c_str()); }

void Control::Enable(bool enabled) const
{
    if (hwnd_)
        ::EnableWindow(hwnd_, enabled ? TRUE : FALSE);
}

void ListBox::ResetContent() const
{
    if (Window())
        ::SendMessageW(Window(), LB_RESETCONTENT, 0, 0);
}

int ListBox::AddString(const std::wstring& text) const
{
    if (!Window())
        return LB_ERR;
    return static_cast<int>(::SendMessageW(Window(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int ListBox::Count() const
{
    return Window() ? static_cast<int>(::SendMessageW(Window(), LB_GETCOUNT, 0, 0)) : 0;
}

std::wstring ListBox::Line(int index) const
{
    if (!Window())
        return {};
    const LRESULT length = ::SendMessageW(Window(), LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        ::SendMessageW(Window(), LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == LB_ERR ? 0 : static_cast<size_t>(copied));
    return text;
}

bool CheckBox::Checked() const
{
    return Window() && ::SendMessageW(Window(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CheckBox::SetChecked(bool checked) const
{
    if (Window())
        ::SendMessageW(Window(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace framework
