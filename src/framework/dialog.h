// Dialogs made from templates in the program's resources, with message
// tables, data exchange and a modal loop of our own.
//
// The modal loop is ours rather than DialogBoxParamW's because the wizard's
// pages must see their keyboard messages before the dialog manager acts on
// them: Enter would otherwise press a page's default button. Every queued
// message is offered to the dialogs between its target window and the modal
// dialog, innermost first, through PreTranslateMessage.
#pragma once

#include <windows.h>

#include <span>
#include <type_traits>

namespace framework {

class Control;

// Binds controls to member objects when a dialog initialises; nothing is
// collected back: the wizard's dialogs keep their values in the controls
// themselves.
class DataExchange {
public:
    explicit DataExchange(HWND dialog) : dialog_(dialog) {}

    // Attaches control to the dialog's child controlId. A missing child
    // leaves the control unattached and marks the exchange failed.
    void BindControl(int controlId, Control& control);
    bool Failed() const { return failed_; }

private:
    HWND dialog_;
    bool failed_ = false;
};

class Dialog {
public:
    // templateId names a DIALOG resource of module (null: the running program).
    explicit Dialog(int templateId, HMODULE module = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    HWND Window() const { return hwnd_; }

    // Creates the dialog without a loop of its own, as a child (or owned
    // window) of parent. False when the template is missing or the window
    // could not be made.
    bool Create(HWND parent);

    // Shows the dialog and runs the modal loop until EndModal. owner, if any,
    // is disabled meanwhile. Returns EndModal's result, or -1 when the window
    // could not be made. The window is destroyed before it returns.
    INT_PTR DoModal(HWND owner = nullptr);
    // Ends the modal loop after the message being handled; no effect on a
    // dialog that is not running modally.
    void EndModal(INT_PTR result);

    // Offered each queued message for this dialog or one of its descendants
    // before it is dispatched; true consumes it. The default gives keyboard
    // messages to the dialog manager (Tab, arrow keys, mnemonics, Enter,
    // Escape).
    virtual bool PreTranslateMessage(MSG& message);

    // The framework dialog that owns window, or null.
    static Dialog* FromWindow(HWND window);

    // Binds the controls; false when a binding failed.
    bool UpdateData();

protected:
    // The dialog initialisation: binds the controls. Derived classes call it
    // first. The result is WM_INITDIALOG's: TRUE lets the dialog manager set
    // the focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(DataExchange& exchange);
    // The OK command (IDOK): ends a modal loop with IDOK.
    virtual void OnOK();
    // The cancel command (IDCANCEL): ends a modal loop with IDCANCEL; a
    // dialog without a loop of its own is hidden, as EndDialog would.
    virtual void OnCancel();
    // WM_QUIT reached the modal loop: true (the default) ends the loop and
    // hands the message on to an outer loop; false drops it and goes on.
    virtual bool OnQuitMessage(int exitCode);

    // Looks the message up in the class's message table; true with *result
    // set when a handler took it.
    virtual bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // What the system would answer for a message the dialog leaves alone:
    // used by colour handlers to start from the default colours.
    LRESULT DefaultAnswer(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Detach();

    int templateId_;
    HMODULE module_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
    bool endRequested_ = false;
    INT_PTR modalResult_ = 0;
};

// Centres window over its parent (or owner); nothing for a window without
// either.
void CenterOverParent(HWND window);

// Hands a queued message to the framework dialogs from its target window up
// to top, innermost first; true when one consumed it.
bool RouteThroughDialogs(MSG& message, HWND top);

// One row of a message table: a message (or a command from one control)
// and the member function that handles it, called through a small thunk so
// that a handler inherited from a base class serves as well. Exactly one
// handler is set. Rows are made by the named constructors:
//   Entry::Command<&Page::OnNext>(IDC_NEXT)
template <class T>
struct MessageEntry {
    using CommandThunk = void (*)(T&);
    using MessageThunk = LRESULT (*)(T&, WPARAM, LPARAM);
    using PaintThunk = void (*)(T&, HDC);
    using ColorThunk = HBRUSH (*)(T&, HDC, HWND, HBRUSH);

    UINT message = 0;
    int controlId = 0;
    int notification = 0;
    CommandThunk command = nullptr;
    MessageThunk raw = nullptr;
    PaintThunk paint = nullptr;
    ColorThunk color = nullptr;

    // A WM_COMMAND notification from one control, BN_CLICKED unless told:
    // void Handler().
    template <auto Handler>
    static constexpr MessageEntry Command(int id, int code = BN_CLICKED)
    {
        return Row(WM_COMMAND, &MessageEntry::command, [](T& object) { (object.*Handler)(); }, id, code);
    }
    // Any message, with its parameters as sent; the result is the message's:
    // LRESULT Handler(WPARAM, LPARAM).
    template <auto Handler>
    static constexpr MessageEntry Message(UINT message)
    {
        return Row(message, &MessageEntry::raw, [](T& object, WPARAM wParam, LPARAM lParam) -> LRESULT {
            return (object.*Handler)(wParam, lParam);
        });
    }
    // WM_PAINT inside BeginPaint and EndPaint: void Handler(HDC).
    template <auto Handler>
    static constexpr MessageEntry Paint()
    {
        return Row(WM_PAINT, &MessageEntry::paint, [](T& object, HDC dc) { (object.*Handler)(dc); });
    }
    // Every WM_CTLCOLOR* message: the control's device context, its window
    // and the brush the system would answer; the handler answers a brush:
    // HBRUSH Handler(HDC, HWND, HBRUSH).
    template <auto Handler>
    static constexpr MessageEntry CtlColor()
    {
        return Row(WM_CTLCOLORSTATIC, &MessageEntry::color,
                   [](T& object, HDC dc, HWND control, HBRUSH defaultBrush) -> HBRUSH {
                       return (object.*Handler)(dc, control, defaultBrush);
                   });
    }

private:
    // A row with its one handler in slot.
    template <typename Thunk>
    static constexpr MessageEntry Row(UINT message, Thunk MessageEntry::*slot, std::type_identity_t<Thunk> thunk,
                                      int id = 0, int code = 0)
    {
        MessageEntry e;
        e.message = message;
        e.controlId = id;
        e.notification = code;
        e.*slot = thunk;
        return e;
    }
};

inline bool IsCtlColorMessage(UINT message) { return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC; }

// Finds the message in table and calls its handler on object.
template <class T>
bool DispatchTable(T& object, std::span<const MessageEntry<T>> table, HWND window, UINT message, WPARAM wParam,
                   LPARAM lParam, LRESULT* result, LRESULT (*defaultAnswer)(T&, UINT, WPARAM, LPARAM))
{
    for (const auto& entry : table) {
        if (entry.color && IsCtlColorMessage(message)) {
            const HBRUSH defaultBrush = reinterpret_cast<HBRUSH>(defaultAnswer(object, message, wParam, lParam));
            *result = reinterpret_cast<LRESULT>(
                entry.color(object, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), defaultBrush));
            return true;
        }
        if (entry.message != message)
            continue;
        if (entry.command) {
            if (LOWORD(wParam) != entry.controlId || HIWORD(wParam) != entry.notification)
                continue;
            entry.command(object);
            *result = 0;
            return true;
        }
        if (entry.raw) {
            *result = entry.raw(object, wParam, lParam);
            return true;
        }
        if (entry.paint) {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(window, &paint);
            if (dc) {
                entry.paint(object, dc);
                ::EndPaint(window, &paint);
            }
            *result = 0;
            return true;
        }
    }
    return false;
}

// The base of a dialog class T with a message table: T declares
//   static std::span<const Entry> MessageTable();
// and defines it, once the class is complete, over a static constexpr array
// of entries.
template <class T>
class DialogImpl : public Dialog {
public:
    using Entry = MessageEntry<T>;
    using Dialog::Dialog;

protected:
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override
    {
        return DispatchTable<T>(static_cast<T&>(*this), T::MessageTable(), Window(), message, wParam, lParam, result,
                                &DialogImpl::Default) ||
               Dialog::Dispatch(message, wParam, lParam, result);
    }

private:
    static LRESULT Default(T& object, UINT message, WPARAM wParam, LPARAM lParam)
    {
        return static_cast<DialogImpl&>(object).DefaultAnswer(message, wParam, lParam);
    }
};

}  // namespace framework
