#include "pages/skin.h"

#include <algorithm>
#include <vector>

namespace skin {

RECT WhiteAreaRect(const RECT& client, WhiteArea area)
{
    if (area == WhiteArea::kBesidePicture)
        return RECT{client.left + kSideWidth, client.top, client.right, client.top + kSideHeight};
    return RECT{client.left, client.top, client.right, client.top + kHeaderHeight};
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

UniqueFont MakeBoldFont(int height)
{
    UniqueFont font(::CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"宋体"));
    if (!font || FontCovers(font.get(), kChineseSample))
        return font;
    LOGFONTW description{};
    if (!::GetObjectW(font.get(), sizeof(description), &description))
        return font;
    UniqueFont chinese = ChineseFontLike(description);
    return chinese ? std::move(chinese) : std::move(font);
}

UniqueFont GiveChineseDialogFont(HWND page)
{
    const auto dialogFont = reinterpret_cast<HFONT>(::SendMessageW(page, WM_GETFONT, 0, 0));
    LOGFONTW description{};
    if (!dialogFont || FontCovers(dialogFont, kChineseSample) ||
        !::GetObjectW(dialogFont, sizeof(description), &description))
        return {};
    UniqueFont chinese = ChineseFontLike(description);
    if (!chinese)
        return {};
    ::SendMessageW(page, WM_SETFONT, reinterpret_cast<WPARAM>(chinese.get()), FALSE);
    FontSwap swap{dialogFont, chinese.get()};
    ::EnumChildWindows(page, &SwapControlFont, reinterpret_cast<LPARAM>(&swap));
    return chinese;
}

void GiveFont(HWND page, int controlId, const UniqueFont& font)
{
    if (!font)
        return;
    ::SendDlgItemMessageW(page, controlId, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
}

void LayOutPage(HWND page, std::span<const ControlPlace> places, std::span<const ControlPlace> morePlaces)
{
    ::MoveWindow(page, 0, 0, kPageWidth, kPageHeight, TRUE);
    RECT client{};
    ::GetClientRect(page, &client);
    for (auto list : {places, morePlaces}) {
        for (const auto& place : list) {
            HWND control = ::GetDlgItem(page, place.id);
            if (!control)
                continue;
            const int width = place.width == kClientWidth ? client.right - client.left : place.width;
            ::MoveWindow(control, place.x, place.y, width, place.height, TRUE);
        }
    }
    framework::CenterOverParent(page);
}

std::vector<LineSpan> FlowSpans(std::span<const LineSpan> laidOut, std::span<const int> textWidths)
{
    constexpr int kGap = 4;
    std::vector<LineSpan> spans;
    int textEnd = 0;
    for (size_t i = 0; i < laidOut.size(); ++i) {
        const int text = i < textWidths.size() ? textWidths[i] : 0;
        LineSpan span = laidOut[i];
        if (i > 0 && text > 0)
            span.x = std::max(span.x, textEnd + kGap);
        // A pixel to spare: a static wraps a text that exactly fills it.
        span.width = std::max(span.width, text + 1);
        textEnd = text > 0 ? span.x + text : std::max(textEnd, span.x);
        spans.push_back(span);
    }
    return spans;
}

void FlowLine(HWND page, std::initializer_list<int> controlIds)
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
    const auto spans = FlowSpans(laidOut, textWidths);
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
