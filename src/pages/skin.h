// The wizard's common look: white areas painted over the dialog grey,
// statics drawn transparently on them, bold titles, fixed pixel layouts, and
// a key filter that keeps Enter and Escape from acting on a page.
//
// Every size here and in the pages' layout tables is in pixels at 96 DPI
// (100% display scale). A page is drawn at the DPI of its monitor: the
// functions below that take a dpi turn those sizes into that scale's pixels,
// through framework::ScaleForDpi, and nothing else scales them.
#pragma once

#include "config/run_copy.h"
#include "framework/dialog.h"
#include "framework/display_scale.h"
#include "pages/wizard.h"
#include "system/unique_handle.h"

#include <windows.h>

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace skin {

// Sizes, width then height.
inline constexpr int kPageWidth = 506, kPageHeight = 364;
// The frame's client area, which the pages fill: what the frame's template
// gives with a Chinese system's dialog font at 96 DPI, and the area the
// pixel layouts are made for. The frame takes it at its own scale, whatever
// the dialog font.
inline constexpr int kFrameClientWidth = 480, kFrameClientHeight = 325;
// The side picture's size, which is also the white area beside it.
inline constexpr int kSideWidth = 164, kSideHeight = 290;
inline constexpr int kHeaderHeight = 55;
// The header pages' corner picture and the destination page's folder picture.
inline constexpr int kHeaderPictureWidth = 53, kHeaderPictureHeight = 49;
inline constexpr int kFolderPictureWidth = 25, kFolderPictureHeight = 34;
// Heights of the title fonts.
inline constexpr int kTitleFontHeight = 12;
inline constexpr int kLargeTitleFontHeight = 16;

// Side-picture pages (welcome, finish) are white right of the picture down
// to the lower line; header pages (destination, ready, installing) across
// their top band.
enum class WhiteArea { kBesidePicture, kHeaderBand };

RECT WhiteAreaRect(const RECT& client, WhiteArea area, UINT dpi);

// A few characters of the wizard's own texts, by which a font is tried for
// Chinese.
inline constexpr const wchar_t* kChineseSample = L"安装向导下一步取消";

// True when font has a glyph of its own for every character of text.
bool FontCovers(HFONT font, const wchar_t* text);

// The bold face every title uses, height pixels high at 96 DPI, for dpi;
// empty when the system cannot make it. On a system whose fonts for the
// Western character set lack Chinese (a Western Windows), the face is asked
// for with the Chinese character set, so that the system picks a font that
// has it.
UniqueFont MakeBoldFont(int height, UINT dpi);

// The page's dialog font for dpi, from the template's font as the dialog
// manager made it at templateDpi: the same face at dpi's size, and when it
// lacks Chinese a font of that size and weight that has it. Empty when the
// template's own font serves (or the system has nothing better).
UniqueFont DialogFontFor(HFONT templateFont, UINT templateDpi, UINT dpi);

// Gives to to the page and to every control of it that draws with from (or
// with no font of its own); nothing when they are the same.
void SwapDialogFont(HWND page, HFONT from, HFONT to);

// The dialog's font when it draws Chinese; else a font of the same size and
// weight that does, given to the dialog and every control of it that uses
// its font. Empty when nothing was changed, and the caller keeps the
// returned font for as long as the dialog lives. For the shell's folder
// dialog, which is the system's.
UniqueFont GiveChineseDialogFont(HWND dialog);

// Sends font to the page's control with redrawing; nothing when the font is
// empty, so the control keeps its dialog font.
void GiveFont(HWND page, int controlId, const UniqueFont& font);

// A bold title font of height (at 96 DPI) made for dpi and given to the
// control, kept in holder; when it cannot be made, control and holder keep
// what they had.
void GiveBoldFont(HWND page, int controlId, int height, UINT dpi, UniqueFont& holder);

// Width kClientWidth stretches a control (a separator line) across the
// page's client area.
inline constexpr int kClientWidth = -1;
struct ControlPlace {
    int id;
    int x;
    int y;
    int width;
    int height;
};

// Moves the page to (0, 0) at 506 x 364 pixels, every listed control to its
// place, all scaled to dpi, and centres the page over its parent. A place's
// edges are scaled, not its size, so that neighbours stay flush.
void LayOutPage(HWND page, UINT dpi, std::span<const ControlPlace> places,
                std::span<const ControlPlace> morePlaces = {});

// A picture of the pages: bitmap resource bitmapId, width x height pixels at
// 96 DPI, shown by a bitmap static.
struct PicturePlace {
    int controlId;
    int bitmapId;
    int width;
    int height;
};

// Gives the control its picture drawn for dpi (ScaledPicture), kept in
// holder; when it cannot be made, control and holder keep what they had.
// The control takes the picture's size; a layout then places it.
void ShowPicture(HWND page, const PicturePlace& picture, UINT dpi, UniqueBitmap& holder);

// A line of texts in several statics (a lead, the product's name, a tail):
// each keeps its laid-out place unless the text before it reaches that far,
// and then starts a small gap after it; each is at least as wide as its
// text. A long product name thus pushes the rest of its line along instead
// of wrapping or running into it. Places are in page pixels.
struct LineSpan {
    int x;
    int width;
};
std::vector<LineSpan> FlowSpans(std::span<const LineSpan> laidOut, std::span<const int> textWidths, int gap = 4);

// Measures each control's text in its own font and moves it as FlowSpans
// says, keeping its row, with a gap scaled to dpi.
void FlowLine(HWND page, UINT dpi, std::initializer_list<int> controlIds);

// Enter and Escape key presses, which a page consumes before the dialog
// manager would turn them into its default button or a cancel.
bool IsSwallowedKey(const MSG& message);

bool IsListed(int controlId, std::span<const int> ids);

}  // namespace skin

// What the frame asks of every page when the wizard's scale changes.
class PageScaling {
public:
    // Lays the page out for dpi: its fonts, its controls' places and its
    // pictures.
    virtual void ApplyDpi(UINT dpi) = 0;

protected:
    ~PageScaling() = default;
};

// The base of every page: painting, transparent statics, the key filter,
// a silent OK command, the way to the frame, its scale, and the
// installer's configuration, which the frame owns and outlives the page.
template <class T>
class WizardPage : public framework::DialogImpl<T>, public PageScaling {
public:
    bool PreTranslateMessage(MSG& message) override
    {
        if (skin::IsSwallowedKey(message))
            return true;
        return framework::Dialog::PreTranslateMessage(message);
    }

    void ApplyDpi(UINT dpi) override
    {
        if (!this->Window())
            return;
        dpi_ = dpi;
        // The texts are Chinese, and a Western system's dialog font would
        // draw them as empty boxes.
        UniqueFont font = skin::DialogFontFor(templateFont_, templateDpi_, dpi);
        skin::SwapDialogFont(this->Window(), dialogFont_ ? dialogFont_.get() : templateFont_,
                             font ? font.get() : templateFont_);
        dialogFont_ = std::move(font);
        LayOut();
    }

protected:
    WizardPage(int templateId, skin::WhiteArea area, std::span<const int> transparentIds,
               const Configuration& configuration)
        : framework::DialogImpl<T>(templateId), area_(area), transparentIds_(transparentIds),
          configuration_(configuration)
    {
    }

    // Where every page reads its settings: the text read once at start,
    // never the run's file, which is for whoever looks at it.
    const Configuration& Config() const { return configuration_; }

    // A page sets its texts, then calls ApplyDpi with its window's DPI.
    BOOL OnInitDialog() override
    {
        const BOOL result = framework::DialogImpl<T>::OnInitDialog();
        // The page lays itself out from its tables at any scale; the dialog
        // manager's own rescaling would fight it.
        framework::KeepDialogFromScalingItself(this->Window());
        // The dialog manager made the template's font for the scale the
        // page was created at.
        templateFont_ = reinterpret_cast<HFONT>(::SendMessageW(this->Window(), WM_GETFONT, 0, 0));
        templateDpi_ = framework::WindowDpi(this->Window());
        return result;
    }

    // Places the page's controls and gives them their fonts and pictures for
    // Dpi(); the dialog font is already set.
    virtual void LayOut() = 0;
    UINT Dpi() const { return dpi_; }

    // A page that is not shown takes no command: a click that reaches it
    // after the wizard moved on (a second click on Next or Install, or a
    // program clicking hidden buttons) must not act for a page the user
    // left, such as deleting the configuration under a running install.
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override
    {
        if (message == WM_COMMAND && !::IsWindowVisible(this->Window())) {
            *result = 0;
            return true;
        }
        return framework::DialogImpl<T>::Dispatch(message, wParam, lParam, result);
    }

    // Enter would raise the OK command; a page's buttons have handlers of
    // their own.
    void OnOK() override {}
    // The dialog manager turns Ctrl+Break into the cancel command, which
    // would hide the page and leave the frame empty: a page's Cancel is its
    // own button, never this command.
    void OnCancel() override {}

    void OnPaint(HDC dc)
    {
        RECT client;
        if (!::GetClientRect(this->Window(), &client))
            return;
        const RECT white = skin::WhiteAreaRect(client, area_, dpi_);
        ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    }

    // A transparent static draws its text straight onto what the page
    // painted, the white area included.
    HBRUSH OnCtlColor(HDC dc, HWND control, HBRUSH defaultBrush)
    {
        if (!skin::IsListed(::GetDlgCtrlID(control), transparentIds_))
            return defaultBrush;
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }

    LRESULT SendToFrame(UINT message, WPARAM wParam) const
    {
        return ::SendMessageW(::GetParent(this->Window()), message, wParam, 0);
    }

    // Cancel on the first three pages: nothing has been installed, so the
    // configuration file goes and the wizard ends.
    void OnCancelPage()
    {
        DeleteConfigFile();
        SendToFrame(WM_WIZARD_CLOSE, 0);
    }

    void SetItemText(int controlId, const std::wstring& text) const
    {
        ::SetDlgItemTextW(this->Window(), controlId, text.c_str());
    }

private:
    skin::WhiteArea area_;
    std::span<const int> transparentIds_;
    const Configuration& configuration_;
    UINT dpi_ = framework::kDefaultDpi;
    // The template's font, the dialog manager's, and the scale it was made for.
    HFONT templateFont_ = nullptr;
    UINT templateDpi_ = framework::kDefaultDpi;
    // The font the page draws with instead, when it has one.
    UniqueFont dialogFont_;
};
