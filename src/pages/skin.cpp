#include "pages/skin.h"

#include <algorithm>

namespace skin {

RECT WhiteAreaRect(const RECT& client, WhiteArea area)
{
    if (area == WhiteArea::kBesidePicture)
        return RECT{client.left + kSideWidth, client.top, client.right, client.top + kSideHeight};
    return RECT{client.left, client.top, client.right, client.top + kHeaderHeight};
}

UniqueFont MakeBoldFont(int height)
{
    return UniqueFont(::CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"宋体"));
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
