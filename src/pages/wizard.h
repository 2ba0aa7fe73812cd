// How pages talk to the frame: two private messages, always sent (never
// posted) to the page's parent window.
#pragma once

#include <windows.h>

// wParam: the page to show (WizardPageIndex); anything else does nothing.
inline constexpr UINT WM_WIZARD_PAGE = WM_USER + 1000;
// Ends the wizard as the frame's OK would.
inline constexpr UINT WM_WIZARD_CLOSE = WM_USER + 1001;

enum WizardPageIndex : int {
    kWelcomePage = 0,
    kDestinationPage = 1,
    kReadyPage = 2,
    kInstallingPage = 3,
    kFinishPage = 4,
    kCancelledPage = 5,
    kPageCount = 6,
};

// The frame's title in every build.
inline constexpr const wchar_t* kWizardTitle = L"游戏安装向导";
