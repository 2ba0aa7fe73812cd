// Non-owning views of a dialog's controls, bound by data exchange. The
// dialog's window owns the control windows; these objects only name them.
#pragma once

#include <windows.h>

#include <string>

namespace framework {

class Control {
public:
    Control() = default;
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Names window; false (and nothing named) when it is not a window.
    bool Attach(HWND window);
    void Detach() { hwnd_ = nullptr; }
    HWND Window() const { return hwnd_; }
    explicit operator bool() const { return hwnd_ != nullptr; }

    std::wstring Text() const;
    bool SetText(const std::wstring& text) const;
    void Enable(bool enabled) const;

private:
    HWND hwnd_ = nullptr;
};

class ListBox : public Control {
public:
    void ResetContent() const;
    // The new line's index, or LB_ERR / LB_ERRSPACE.
    int AddString(const std::wstring& text) const;
    int Count() const;
    std::wstring Line(int index) const;
};

class CheckBox : public Control {
public:
    bool Checked() const;
    void SetChecked(bool checked) const;
};

}  // namespace framework
