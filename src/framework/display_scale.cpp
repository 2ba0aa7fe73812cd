#include "framework/display_scale.h"

namespace framework {

namespace {

template <typename Function>
Function LookUp(const char* name)
{
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    return user ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user, name))) : nullptr;
}

}  // namespace

UINT WindowDpi(HWND window)
{
    static const auto getDpiForWindow = LookUp<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(window))
            return dpi;
    }
    UINT dpi = kDefaultDpi;
    if (HDC screen = ::GetDC(nullptr)) {
        const int pixels = ::GetDeviceCaps(screen, LOGPIXELSY);
        if (pixels > 0)
            dpi = static_cast<UINT>(pixels);
        ::ReleaseDC(nullptr, screen);
    }
    return dpi;
}

int SystemMetricForDpi(int index, UINT dpi)
{
    static const auto metric = LookUp<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return metric ? metric(index, dpi) : ::GetSystemMetrics(index);
}

void KeepDialogFromScalingItself(HWND dialog)
{
    // DDC_DISABLE_ALL, from Windows 10 version 1703 on.
    constexpr int kDisableAll = 1;
    static const auto setBehavior = LookUp<BOOL(WINAPI*)(HWND, int, int)>("SetDialogDpiChangeBehavior");
    if (setBehavior)
        setBehavior(dialog, kDisableAll, kDisableAll);
}

}  // namespace framework
