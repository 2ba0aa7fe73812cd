// Marvane.exe, the sample product's main program: a window that says the
// game client runs, so that an installation can be exercised to the end.
//
//   Marvane.exe [-tp:1] [-autoclose:MS]
//
// -tp:1 is the repair shortcut's argument: the window says it is in repair
// mode. -autoclose:MS closes the window after MS milliseconds; without it
// the window stays until it is closed, unless the environment variable
// MARVANE_AUTOCLOSE_MS gives the delay (for the finish page, which starts
// the program without arguments).
//
// Every start first appends its whole command line, as one UTF-8 line ended
// by CR LF, to run-marker.txt beside the program; when that folder cannot be
// written (Program Files without elevation), to run-marker.txt in the user's
// temporary folder; its working folder, as one such line, replaces
// run-folder.txt there. Exit code 0.
#include "system/unique_handle.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kWindowClass[] = L"MarvaneSampleWindow";
constexpr wchar_t kMarkerName[] = L"run-marker.txt";
constexpr wchar_t kWorkingFolderName[] = L"run-folder.txt";
constexpr UINT_PTR kCloseTimer = 1;

struct Options {
    bool repair = false;
    UINT autoCloseMs = 0;  // 0: stay open
};

Options ParseOptions(const wchar_t* commandLine)
{
    Options options;
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(commandLine, &count);
    if (!args)
        return options;
    for (int i = 1; i < count; ++i) {
        if (::lstrcmpiW(args[i], L"-tp:1") == 0)
            options.repair = true;
        else if (::_wcsnicmp(args[i], L"-autoclose:", 11) == 0)
            options.autoCloseMs = static_cast<UINT>(std::wcstoul(args[i] + 11, nullptr, 10));
    }
    ::LocalFree(args);
    if (options.autoCloseMs == 0) {
        wchar_t value[32] = {};
        if (::GetEnvironmentVariableW(L"MARVANE_AUTOCLOSE_MS", value, 32) > 0)
            options.autoCloseMs = static_cast<UINT>(std::wcstoul(value, nullptr, 10));
    }
    return options;
}

std::wstring ModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

bool AppendLine(const std::wstring& path, const std::string& line)
{
    UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

void LeaveMarker(const wchar_t* commandLine)
{
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, nullptr, 0, nullptr, nullptr);
    std::string line(bytes > 0 ? static_cast<size_t>(bytes - 1) : 0, '\0');
    if (bytes > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, line.data(), bytes, nullptr, nullptr);
    line += "\r\n";
    // The working folder it was started in goes beside the marker, alone.
    wchar_t current[MAX_PATH] = {};
    const DWORD currentLength = ::GetCurrentDirectoryW(MAX_PATH, current);
    const int currentBytes = currentLength && currentLength < MAX_PATH
        ? ::WideCharToMultiByte(CP_UTF8, 0, current, -1, nullptr, 0, nullptr, nullptr) : 0;
    std::string working(currentBytes > 1 ? static_cast<size_t>(currentBytes - 1) : 0, '\0');
    if (currentBytes > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, current, -1, working.data(), currentBytes, nullptr, nullptr);
    working += "\r\n";

    std::wstring folder = ModuleFolder();
    if (folder.empty() || !AppendLine(folder + L"\\" + kMarkerName, line)) {
        wchar_t temp[MAX_PATH] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH, temp);
        if (length == 0 || length >= MAX_PATH)
            return;
        folder.assign(temp, length - 1);
        if (!AppendLine(folder + L"\\" + kMarkerName, line))
            return;
    }
    const std::wstring workingFile = folder + L"\\" + kWorkingFolderName;
    ::DeleteFileW(workingFile.c_str());
    AppendLine(workingFile, working);
}

struct WindowState {
    Options options;
    HFONT font = nullptr;  // the stock GUI font: not ours to delete
};

void Paint(HWND window, const WindowState& state)
{
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window, &paint);
    RECT client;
    ::GetClientRect(window, &client);
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    HGDIOBJ oldFont = ::SelectObject(dc, state.font);
    ::SetBkMode(dc, TRANSPARENT);
    const wchar_t* text =
        state.options.repair ? L"Marvane 修复模式：正在检查游戏文件……" : L"Marvane 游戏客户端正在运行。";
    ::DrawTextW(dc, text, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(dc, oldFont);
    ::EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<WindowState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE:
        state = static_cast<WindowState*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        break;
    case WM_CREATE:
        if (state->options.autoCloseMs)
            ::SetTimer(window, kCloseTimer, state->options.autoCloseMs, nullptr);
        return 0;
    case WM_TIMER:
        if (wParam == kCloseTimer) {
            ::KillTimer(window, kCloseTimer);
            ::DestroyWindow(window);
        }
        return 0;
    case WM_PAINT:
        if (state) {
            Paint(window, *state);
            return 0;
        }
        break;
    case WM_DESTROY:
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    const wchar_t* commandLine = ::GetCommandLineW();
    // The marker comes before any window, so a test that sees it knows the
    // program started, whatever becomes of the window.
    LeaveMarker(commandLine);

    WindowState state;
    state.options = ParseOptions(commandLine);
    state.font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(128));
    windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&windowClass))
        return 1;

    const int width = 420, height = 160;
    HWND window = ::CreateWindowExW(
        0, kWindowClass, state.options.repair ? L"Marvane 修复" : L"Marvane",
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
        (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr, instance, &state);
    if (!window)
        return 1;
    ::ShowWindow(window, show);
    ::UpdateWindow(window);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
