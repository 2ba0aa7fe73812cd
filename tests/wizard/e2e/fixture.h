// What the wizard's end-to-end test suites share: a thread that can use the
// shell (links, the folder dialog), a clean start and a started wizard.
#pragma once

#include "e2e/driver.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

// user32 exports it; mingw's headers do not declare it.
extern "C" BOOL WINAPI SetShellWindow(HWND window);

namespace e2e {

// The desktop's shell, played by this driver: Wine runs no shell window, and
// setup.exe starts the player's programs only with the token of the process
// that owns one. A window of its own on a thread of its own that answers its
// messages, the shell window while it lives.
class TestShell {
public:
    TestShell()
    {
        HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this, ready] {
            window_ = ::CreateWindowExW(0, L"STATIC", L"e2e shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                        nullptr);
            set_ = window_ && ::SetShellWindow(window_);
            threadId_ = ::GetCurrentThreadId();
            ::SetEvent(ready);
            MSG message;
            while (::GetMessageW(&message, nullptr, 0, 0) > 0)
                ::DispatchMessageW(&message);
            ::DestroyWindow(window_);
        });
        ::WaitForSingleObject(ready, INFINITE);
        ::CloseHandle(ready);
    }
    ~TestShell()
    {
        ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    TestShell(const TestShell&) = delete;
    TestShell& operator=(const TestShell&) = delete;

    bool IsTheShell() const { return set_ && ::GetShellWindow() == window_; }

private:
    std::thread thread_;
    HWND window_ = nullptr;
    DWORD threadId_ = 0;
    bool set_ = false;
};

// The player's own environment, which the programs setup starts for the
// player get (not setup's): the sample program closes itself after this.
inline void SetPlayerEnvironment(const wchar_t* name, const wchar_t* value)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>((::lstrlenW(value) + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

// The sample product's name and the folder the wizard offers for it.
inline const std::wstring kDisplayName = L"Quenlo棋牌";
inline const std::wstring kDefaultInstallDir = L"D:\\Program Files\\Tovani";

class WizardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SetPlayerEnvironment(L"MARVANE_AUTOCLOSE_MS", L"300");
        shell_ = std::make_unique<TestShell>();
        ASSERT_TRUE(shell_->IsTheShell());
    }
    static void TearDownTestSuite() { shell_.reset(); }

    // Ends the desktop's shell: from then on there is no player.
    static void EndShell() { shell_.reset(); }

    static inline std::unique_ptr<TestShell> shell_;

    // Removes what earlier runs left (the wizards' temporary folders and
    // configuration file, installDir and its staging folder) and makes the
    // work folder anew, empty; false when it cannot.
    static bool ClearRuns(const std::wstring& installDir)
    {
        for (const std::wstring& folder : RunFolders())
            RemoveTree(folder);
        ::DeleteFileW((TempFolder() + L"incfg.ini").c_str());
        for (const auto& folder : {installDir, installDir + L".temp", std::wstring(kWorkFolder)})
            RemoveTree(folder);
        ::CreateDirectoryW(L"D:\\e2e", nullptr);
        return ::CreateDirectoryW(kWorkFolder, nullptr);
    }

    // Starts a wizard and waits for its welcome page.
    static std::unique_ptr<SetupProcess> Start(const std::wstring& exe,
                                               const std::vector<std::wstring>& environment = {})
    {
        auto wizard = std::make_unique<SetupProcess>(exe, environment);
        EXPECT_TRUE(wizard->Started());
        EXPECT_NE(wizard->WaitForFrame(), nullptr);
        EXPECT_NE(wizard->WaitForPage(Page::kWelcome), nullptr);
        return wizard;
    }
};

}  // namespace e2e
