// setup.exe at the display scale Wine started with (LogPixels), driven over
// every page: run_scale_e2e.sh runs it at 96, 144 and 192 DPI, each in a
// server started anew, and tells it the scale in WIZARD_DPI.
#include "e2e/control_ids.h"
#include "e2e/driver.h"
#include "e2e/text_fit_probe.h"
#include "pages/scaled_picture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace e2e;

namespace {

// The frame's client area at 96 DPI, which every scale multiplies.
constexpr int kClientWidth = 480;
constexpr int kClientHeight = 325;
// The white band across the top of the header pages, at 96 DPI.
constexpr int kHeaderBandHeight = 55;

int Scaled(int value, UINT dpi) { return ::MulDiv(value, static_cast<int>(dpi), 96); }

// The probe inside the wizard's process, which measures its texts in their
// own fonts (text_fit_probe.cpp).
class TextFit {
public:
    explicit TextFit(const SetupProcess& wizard)
        : request_(::CreateEventW(nullptr, FALSE, FALSE, kTextFitRequest)),
          done_(::CreateEventW(nullptr, FALSE, FALSE, kTextFitDone)),
          loaded_(request_ && done_ && wizard.LoadLibraryInto(Bin(L"text_fit_probe.dll")))
    {
    }
    ~TextFit()
    {
        ::CloseHandle(request_);
        ::CloseHandle(done_);
    }
    TextFit(const TextFit&) = delete;
    TextFit& operator=(const TextFit&) = delete;

    bool Loaded() const { return loaded_; }

    // One line per visible text of the shown page (text_fit_probe.cpp).
    std::string MeasureShownPage() const
    {
        ::DeleteFileW(kTextFitReport);
        ::SetEvent(request_);
        if (::WaitForSingleObject(done_, kDeadlineMs) != WAIT_OBJECT_0)
            return {};
        return ReadFileBytes(kTextFitReport);
    }

private:
    HANDLE request_;
    HANDLE done_;
    bool loaded_;
};

void ExpectTextsFit(const TextFit& fit, const std::string& page)
{
    const std::string report = fit.MeasureShownPage();
    EXPECT_NE(report.find("fits"), std::string::npos) << page << ": nothing measured";
    EXPECT_EQ(report.find("DOES NOT FIT"), std::string::npos) << page << ":\n" << report;
}

void ExpectClientArea(HWND frame, UINT dpi)
{
    RECT client{};
    ASSERT_TRUE(::GetClientRect(frame, &client));
    EXPECT_EQ(client.right, Scaled(kClientWidth, dpi)) << dpi;
    EXPECT_EQ(client.bottom, Scaled(kClientHeight, dpi)) << dpi;
}

// Whether the control shows bitmap id of exe pixel for pixel, as drawn for
// exactly this scale and not scaled from another.
bool ShowsBitmapNow(HWND control, const std::wstring& exe, int id)
{
    RECT area{};
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module || !::GetWindowRect(control, &area))
        return false;
    const auto bitmap =
        static_cast<HBITMAP>(::LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ::FreeLibrary(module);
    BITMAP shape{};
    const bool sized = bitmap && ::GetObjectW(bitmap, sizeof(shape), &shape) &&
                       shape.bmWidth == area.right - area.left && shape.bmHeight == area.bottom - area.top;
    BITMAPINFO format = PixelsFormat(shape.bmWidth, shape.bmHeight);
    std::vector<uint32_t> expected(static_cast<size_t>(shape.bmWidth) * shape.bmHeight);
    std::vector<uint32_t> shown(expected.size());
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    bool same = sized && ::GetDIBits(memory, bitmap, 0, shape.bmHeight, expected.data(), &format, DIB_RGB_COLORS);
    void* bits = nullptr;
    HBITMAP capture = ::CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (same && capture) {
        HGDIOBJ old = ::SelectObject(memory, capture);
        ::BitBlt(memory, 0, 0, shape.bmWidth, shape.bmHeight, screen, area.left, area.top, SRCCOPY);
        ::GdiFlush();
        ::SelectObject(memory, old);
        std::memcpy(shown.data(), bits, shown.size() * sizeof(uint32_t));
        for (size_t i = 0; i < shown.size() && same; ++i)
            same = (shown[i] & 0xFFFFFF) == (expected[i] & 0xFFFFFF);
    }
    ::DeleteObject(capture);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return same;
}

// The same, once the control has painted.
bool ShowsBitmapAsItIs(HWND control, const std::wstring& exe, int id)
{
    return WaitUntil([&] { return ShowsBitmapNow(control, exe, id); }, 5000);
}

// How many rows of page, from the top of its client area, the screen shows
// white in the column x: left of the titles, the header band's height.
int WhiteRowsAtTop(HWND page, int x)
{
    RECT client{};
    POINT origin{};
    if (!::GetClientRect(page, &client) || !::ClientToScreen(page, &origin))
        return -1;
    const int height = client.bottom;
    BITMAPINFO format = PixelsFormat(1, height);
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP capture = ::CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    int rows = -1;
    if (capture) {
        HGDIOBJ old = ::SelectObject(memory, capture);
        ::BitBlt(memory, 0, 0, 1, height, screen, origin.x + x, origin.y, SRCCOPY);
        ::GdiFlush();
        ::SelectObject(memory, old);
        const auto* pixels = static_cast<const uint32_t*>(bits);
        for (rows = 0; rows < height && (pixels[rows] & 0xFFFFFF) == 0xFFFFFF;)
            ++rows;
    }
    ::DeleteObject(capture);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return rows;
}

// Presses button on page, saves the box with caption that it brings up
// beside the frame as shot, and answers it; false when no box came.
bool ShootBox(const SetupProcess& wizard, HWND page, int button, const std::wstring& caption, const wchar_t* shot,
              int answer)
{
    Click(page, button);
    HWND box = wizard.WaitForBox(caption);
    if (!box)
        return false;
    EXPECT_TRUE(SaveScreenshot(shot, {wizard.Frame(), box}));
    AnswerBox(box, answer);
    return true;
}

TEST(WizardScale, EveryPageIsLaidOutForTheDisplayScale)
{
    const char* given = std::getenv("WIZARD_DPI");
    const UINT dpi = given ? static_cast<UINT>(std::atoi(given)) : 96;
    HDC screen = ::GetDC(nullptr);
    ASSERT_EQ(static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY)), dpi) << "Wine did not take LogPixels";
    ::ReleaseDC(nullptr, screen);
    RemoveTree(L"D:\\Program Files\\Tovani");
    RemoveTree(kWorkFolder);
    ::CreateDirectoryW(kWorkFolder, nullptr);
    // A payload that unpacks long enough for the installing page to be seen.
    const std::wstring exe = Work(L"setup.exe");
    ASSERT_TRUE(CopyWithResource(Bin(L"setup.exe"), exe, L"DATA", 148, ReadFileBytes(Bin(L"big-payload.7z"))));
    SetupProcess wizard(exe);
    HWND frame = wizard.WaitForFrame();
    ASSERT_NE(frame, nullptr);
    HWND welcome = wizard.WaitForPage(Page::kWelcome);
    ASSERT_NE(welcome, nullptr);
    const TextFit fit(wizard);
    ASSERT_TRUE(fit.Loaded());
    // A header page (band) also shows its white band scaled, within the
    // pixel that rounding may give or take.
    const auto check = [&](const char* page, const wchar_t* shot, HWND band = nullptr) {
        ExpectTextsFit(fit, page);
        // Wine's desktop draws the icon of the shortcut the installation
        // makes over the windows in front of it: the frame paints anew.
        ::RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
        EXPECT_TRUE(SaveScreenshot(shot, {frame})) << page;
        if (band) {
            int rows = 0;
            EXPECT_TRUE(WaitUntil([&] {
                rows = WhiteRowsAtTop(band, Scaled(10, dpi));
                return std::abs(rows - Scaled(kHeaderBandHeight, dpi)) <= 1;
            }, 5000)) << page << ": the band is " << rows << " rows high at " << dpi << " DPI";
        }
    };

    ExpectClientArea(frame, dpi);
    check("welcome", L"page-1-welcome");
    // At 100% and 200% the side picture drawn for that scale, as it is.
    if (dpi == 96 || dpi == 192) {
        EXPECT_TRUE(ShowsBitmapAsItIs(::GetDlgItem(welcome, IDC_WELCOME_PICTURE), exe,
                                      dpi == 96 ? IDB_SIDE_PICTURE : IDB_SIDE_PICTURE_200));
    }
    if (dpi == 96) {
        // Moved to a monitor at 200%, and back; the system would suggest a
        // place where the frame fits that monitor, here its corner.
        ::SendMessageW(frame, WM_DPICHANGED, MAKEWPARAM(192, 192), 0);
        ::SetWindowPos(frame, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ExpectClientArea(frame, 192);
        ExpectTextsFit(fit, "welcome, moved to 200%");
        EXPECT_TRUE(ShowsBitmapAsItIs(::GetDlgItem(welcome, IDC_WELCOME_PICTURE), exe, IDB_SIDE_PICTURE_200));
        ::SendMessageW(frame, WM_DPICHANGED, MAKEWPARAM(96, 96), 0);
        ExpectClientArea(frame, 96);
    }

    Click(welcome, kNext);
    HWND destination = wizard.WaitForPage(Page::kDestination);
    ASSERT_NE(destination, nullptr);
    check("destination", L"page-2-destination", destination);
    // The system's boxes and folder dialog lay themselves out.
    ASSERT_TRUE(ShootBox(wizard, destination, kBrowse, L"游戏安装向导", L"box-newer-windows-notice", IDOK));
    HWND folders = wizard.WaitForFolderDialog();
    ASSERT_NE(folders, nullptr);
    EXPECT_TRUE(SaveScreenshot(L"box-folder-dialog", {frame, folders}));
    Click(folders, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(folders); }));

    Click(destination, kNext);
    HWND ready = wizard.WaitForPage(Page::kReady);
    ASSERT_NE(ready, nullptr);
    check("ready", L"page-3-ready", ready);
    Click(ready, kInstall);
    HWND installing = wizard.WaitForPage(Page::kInstalling);
    ASSERT_NE(installing, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ItemText(installing, kStatus) == L"正在解压文件"; }));
    check("installing", L"page-4-installing", installing);
    ASSERT_TRUE(ShootBox(wizard, installing, kCancel, L"温馨提示", L"box-cancel-question", IDCANCEL));
    HWND finish = wizard.WaitForPage(Page::kFinish, 120000);
    ASSERT_NE(finish, nullptr);
    check("finish", L"page-5-finish");
    Click(finish, kRunNow);
    ASSERT_TRUE(WaitUntil([&] { return ::SendMessageW(::GetDlgItem(finish, kRunNow), BM_GETCHECK, 0, 0) == 0; }));
    Click(finish, kFinishButton);
    EXPECT_TRUE(wizard.WaitForExit());
}

}  // namespace
