#include "pages/skin.h"

#include "pages/scaled_picture.h"

#include <algorithm>
#include <vector>

namespace skin {

RECT WhiteAreaRect(const RECT& client, WhiteArea area, UINT dpi)
{
    using framework::ScaleForDpi;
    if (area == WhiteArea::kBesidePicture)
        return RECT{client.left + ScaleForDpi(kSideWidth, dpi), client.top, client.right,
                    client.top + ScaleForDpi(kSideHeight, dpi)};
    return RECT{client.left, client.top, client.right, client.top + ScaleForDpi(kHeaderHeight, dpi)};
}

bool FontCovers(HFONT font, const wchar_t* text)
{
    const int length = lstrlenW(text);
    if (!font || length == 0)
        return font != nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    if (!dc)
        return false;
    HGDIOBJ old = ::SelectObject(dc, font);
    std::vector<WORD> glyphs(static_cast<size_t>(length));
    const bool read = ::GetGlyphIndicesW(dc, text, length, glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR;
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return read && std::find(glyphs.begin(), glyphs.end(), WORD{0xFFFF}) == glyphs.end();
}

namespace {

// The same font asked for with the Chinese character set, when that one
// covers Chinese; else empty.
UniqueFont ChineseFontLike(LOGFONTW font)
{
    font.lfCharSet = GB2312_CHARSET;
    UniqueFont chinese(::CreateFontIndirectW(&font));
    if (FontCovers(chinese.get(), kChineseSample))
        return chinese;
    // The face may name a font of another script: let the system choose by
    // the character set alone.
    font.lfFaceName[0] = L'\0';
    chinese.reset(::CreateFontIndirectW(&font));
    return FontCovers(chinese.get(), kChineseSample) ? std::move(chinese) : UniqueFont();
}

struct FontSwap {
    HFONT from;
    HFONT to;
};

BOOL CALLBACK SwapControlFont(HWND control, LPARAM context)
{
    const auto* swap = reinterpret_cast<const FontSwap*>(context);
    const auto current = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    if (current == swap->from || current == nullptr)
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(swap->to), FALSE);
    return TRUE;
}

}  // namespace

UniqueFont MakeBoldFont(int height, UINT dpi)
{
    UniqueFont font(::CreateFontW(framework::ScaleForDpi(height, dpi), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                  ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS,
                                  L"宋体"));
    if (!font || FontCovers(font.get(), kChineseSample))
        return font;
    LOGFONTW description{};
    if (!::GetObjectW(font.get(), sizeof(description), &description))
        return font;
    UniqueFont chinese = ChineseFontLike(description);
    return chinese ? std::move(chinese) : std::move(font);
}

UniqueFont DialogFontFor(HFONT templateFont, UINT templateDpi, UINT dpi)
{
    LOGFONTW description{};
    if (!templateFont || !::GetObjectW(templateFont, sizeof(description), &description))
        return {};
    const bool covers = FontCovers(templateFont, kChineseSample);
    if (covers && dpi == templateDpi)
        return {};
    description.lfHeight = ::MulDiv(description.lfHeight, static_cast<int>(dpi), static_cast<int>(templateDpi));
    description.lfWidth = ::MulDiv(description.lfWidth, static_cast<int>(dpi), static_cast<int>(templateDpi));
    if (!covers) {
        if (UniqueFont chinese = ChineseFontLike(description))
            return chinese;
    }
    if (dpi == templateDpi)
        return {};
    return UniqueFont(::CreateFontIndirectW(&description));
}

void SwapDialogFont(HWND page, HFONT from, HFONT to)
{
    if (from == to || !to)
        return;
    ::SendMessageW(page, WM_SETFONT, reinterpret_cast<WPARAM>(to), FALSE);
    FontSwap swap{from, to};
    ::EnumChildWindows(page, &SwapControlFont, reinterpret_cast<LPARAM>(&swap));
}

UniqueFont GiveChineseDialogFont(HWND dialog)
{
    const auto dialogFont = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    // At the same scale: only the character set changes.
    UniqueFont chinese = DialogFontFor(dialogFont, framework::kDefaultDpi, framework::kDefaultDpi);
    SwapDialogFont(dialog, dialogFont, chinese.get());
    return chinese;
}

void GiveFont(HWND page, int controlId, const UniqueFont& font)
{
    if (!font)
        return;
    ::SendDlgItemMessageW(page, controlId, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
}

void GiveBoldFont(HWND page, int controlId, int height, UINT dpi, UniqueFont& holder)
{
    UniqueFont font = MakeBoldFont(height, dpi);
    if (!font)
        return;
    // Given before the old one goes: the control never holds a deleted font.
    GiveFont(page, controlId, font);
    holder = std::move(font);
}

void ShowPicture(HWND page, const PicturePlace& picture, UINT dpi, UniqueBitmap& holder)
{
    const auto module = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(page, GWLP_HINSTANCE));
    UniqueBitmap bitmap = ScaledPicture(module, picture.bitmapId, picture.width, picture.height, dpi);
    if (!bitmap)
        return;
    const auto old = reinterpret_cast<HBITMAP>(::SendDlgItemMessageW(
        page, picture.controlId, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap.get())));
    // The first picture the control had is the one it loaded from the
    // template, which nothing else holds.
    if (old && old != holder.get())
        ::DeleteObject(old);
    holder = std::move(bitmap);
}

void LayOutPage(HWND page, UINT dpi, std::span<const ControlPlace> places, std::span<const ControlPlace> morePlaces)
{
    using framework::ScaleForDpi;
    ::MoveWindow(page, 0, 0, ScaleForDpi(kPageWidth, dpi), ScaleForDpi(kPageHeight, dpi), TRUE);
    RECT client{};
    ::GetClientRect(page, &client);
    for (auto list : {places, morePlaces}) {
        for (const auto& place : list) {
            HWND control = ::GetDlgItem(page, place.id);
            if (!control)
                continue;
            const int left = ScaleForDpi(place.x, dpi);
            const int top = ScaleForDpi(place.y, dpi);
            const int right = place.width == kClientWidth ? client.right - client.left
                                                          : ScaleForDpi(place.x + place.width, dpi);
            // A line stays one pixel thick.
            const int bottom = place.height == 1 ? top + 1 : ScaleForDpi(place.y + place.height, dpi);
            ::MoveWindow(control, left, top, right - left, bottom - top, TRUE);
        }
    }
    framework::CenterOverParent(page);
}

std::vector<LineSpan> FlowSpans(std::span<const LineSpan> laidOut, std::span<const int> textWidths, int gap)
{
    std::vector<LineSpan> spans;
    int textEnd = 0;
    for (size_t i = 0; i < laidOut.size(); ++i) {
        const int text = i < textWidths.size() ? textWidths[i] : 0;
        LineSpan span = laidOut[i];
        if (i > 0 && text > 0)
            span.x = std::max(span.x, textEnd + gap);
        // A pixel to spare: a static wraps a text that exactly fills it.
        span.width = std::max(span.width, text + 1);
        textEnd = text > 0 ? span.x + text : std::max(textEnd, span.x);
        spans.push_back(span);
    }
    return spans;
}

void FlowLine(HWND page, UINT dpi, std::initializer_list<int> controlIds)
{
    std::vector<HWND> controls;
    std::vector<LineSpan> laidOut;
    std::vector<int> textWidths;
    std::vector<RECT> rects;
    for (const int id : controlIds) {
        HWND control = ::GetDlgItem(page, id);
        RECT rect{};
        if (!control || !::GetWindowRect(control, &rect))
            return;
        ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
        wchar_t text[260] = {};
        const int length = ::GetWindowTextW(control, text, static_cast<int>(std::size(text)));
        SIZE extent{};
        if (HDC dc = ::GetDC(control)) {
            HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
            ::GetTextExtentPoint32W(dc, text, length, &extent);
            ::SelectObject(dc, old);
            ::ReleaseDC(control, dc);
        }
        controls.push_back(control);
        rects.push_back(rect);
        laidOut.push_back({rect.left, rect.right - rect.left});
        textWidths.push_back(length > 0 ? static_cast<int>(extent.cx) : 0);
    }
    const auto spans = FlowSpans(laidOut, textWidths, framework::ScaleForDpi(4, dpi));
    for (size_t i = 0; i < controls.size(); ++i)
        ::MoveWindow(controls[i], spans[i].x, rects[i].top, spans[i].width, rects[i].bottom - rects[i].top, TRUE);
}

bool IsSwallowedKey(const MSG& message)
{
    return message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
}

bool IsListed(int controlId, std::span<const int> ids)
{
    return std::find(ids.begin(), ids.end(), controlId) != ids.end();
}

}  // namespace skin
