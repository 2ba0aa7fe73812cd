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

bool IsSwallowedKey(const MSG& message)
{
    return message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
}

bool IsListed(int controlId, std::span<const int> ids)
{
    return std::find(ids.begin(), ids.end(), controlId) != ids.end();
}

}  // namespace skin
