// Loaded into a running setup.exe by the display-scale test, which cannot
// select the wizard's fonts from its own process: each time the test sets
// the request event, measures every visible text of the frame's shown page
// in the font its control draws with, as the control lays it out, and
// writes one line per text to the report file, then sets the done event.
//   fits|DOES NOT FIT <id> <class> <text width>x<text height> in <width>x<height>: <text>
#include "e2e/text_fit_probe.h"

#include <windows.h>

#include <string>

namespace {

std::wstring Text(HWND window)
{
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}

// The extent of text in font, laid out in width as the control lays it out.
SIZE Extent(HFONT font, const std::wstring& text, int width, UINT format)
{
    RECT area{0, 0, width, 0};
    if (HDC dc = ::CreateCompatibleDC(nullptr)) {
        HGDIOBJ old = ::SelectObject(dc, font ? font : ::GetStockObject(SYSTEM_FONT));
        ::DrawTextW(dc, text.c_str(), -1, &area, format | DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
    }
    return SIZE{area.right, area.bottom};
}

struct Report {
    std::wstring lines;
};

void Add(Report& report, HWND control, const wchar_t* kind, const std::wstring& text, SIZE extent, const RECT& room)
{
    const bool fits = extent.cx <= room.right && extent.cy <= room.bottom;
    report.lines += std::wstring(fits ? L"fits" : L"DOES NOT FIT") + L" " + std::to_wstring(::GetDlgCtrlID(control)) +
                    L" " + kind + L" " + std::to_wstring(extent.cx) + L"x" + std::to_wstring(extent.cy) + L" in " +
                    std::to_wstring(room.right) + L"x" + std::to_wstring(room.bottom) + L": " + text + L"\n";
}

BOOL CALLBACK MeasureControl(HWND control, LPARAM context)
{
    auto& report = *reinterpret_cast<Report*>(context);
    if (!::IsWindowVisible(control))
        return TRUE;
    wchar_t kind[64] = {};
    ::GetClassNameW(control, kind, 64);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    RECT room{};
    ::GetClientRect(control, &room);
    const std::wstring text = Text(control);
    if (::lstrcmpiW(kind, L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (!text.empty() && (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT))
            Add(report, control, kind, text, Extent(font, text, room.right, DT_WORDBREAK), room);
    } else if (::lstrcmpiW(kind, L"Button") == 0 || ::lstrcmpiW(kind, L"Edit") == 0) {
        if (!text.empty())
            Add(report, control, kind, text, Extent(font, text, room.right, DT_SINGLELINE), room);
    } else if (::lstrcmpiW(kind, L"ListBox") == 0) {
        const auto lines = static_cast<int>(::SendMessageW(control, LB_GETCOUNT, 0, 0));
        const auto lineHeight = static_cast<LONG>(::SendMessageW(control, LB_GETITEMHEIGHT, 0, 0));
        for (int i = 0; i < lines; ++i) {
            wchar_t line[512] = {};
            if (::SendMessageW(control, LB_GETTEXTLEN, i, 0) >= 512)
                continue;
            ::SendMessageW(control, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
            Add(report, control, kind, line, Extent(font, line, room.right, DT_SINGLELINE),
                RECT{0, 0, room.right, lineHeight});
        }
    }
    return TRUE;
}

BOOL CALLBACK FindFrame(HWND window, LPARAM context)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window) || Text(window) != kFrameTitle)
        return TRUE;
    *reinterpret_cast<HWND*>(context) = window;
    return FALSE;
}

void WriteReport(const std::wstring& text)
{
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                          nullptr);
    HANDLE file = ::CreateFileW(kTextFitReport, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    ::CloseHandle(file);
}

DWORD WINAPI Serve(void*)
{
    HANDLE request = ::OpenEventW(SYNCHRONIZE, FALSE, kTextFitRequest);
    HANDLE done = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, kTextFitDone);
    if (!request || !done)
        return 1;
    while (::WaitForSingleObject(request, INFINITE) == WAIT_OBJECT_0) {
        HWND frame = nullptr;
        ::EnumWindows(&FindFrame, reinterpret_cast<LPARAM>(&frame));
        HWND page = nullptr;
        for (HWND child = frame ? ::GetWindow(frame, GW_CHILD) : nullptr; child && !page;
             child = ::GetWindow(child, GW_HWNDNEXT))
            page = ::IsWindowVisible(child) ? child : nullptr;
        Report report;
        if (page)
            ::EnumChildWindows(page, &MeasureControl, reinterpret_cast<LPARAM>(&report));
        WriteReport(report.lines);
        ::SetEvent(done);
    }
    return 0;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
        if (HANDLE thread = ::CreateThread(nullptr, 0, &Serve, nullptr, 0, nullptr))
            ::CloseHandle(thread);
    }
    return TRUE;
}
