// What the wizard's end-to-end test suites share: a thread that can use the
// shell (links, the folder dialog), a clean start and a started wizard, the
// ways through the pages, and the sample product's installation as it is
// checked from outside.
#pragma once

#include "e2e/control_ids.h"
#include "e2e/driver.h"
#include "system/shortcuts.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
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

// The captions of the wizard's boxes: its notices, its question and its
// errors.
inline const std::wstring kCaption = L"游戏安装向导";
inline const std::wstring kQuestionCaption = L"温馨提示";
inline const std::wstring kErrorCaption = L"错误提示";

inline ShortcutInfo ReadLink(const std::wstring& path)
{
    ShortcutInfo link;
    ReadShortcut(path, &link);
    return link;
}

// The value of key in an INI text (key=value on a line of its own), or
// empty.
inline std::wstring ValueIn(std::wstring text, const std::wstring& key)
{
    text = L"\n" + text + L"\r\n";
    const size_t at = text.find(L"\n" + key + L"=");
    if (at == std::wstring::npos)
        return {};
    const size_t from = at + key.size() + 2;
    return text.substr(from, text.find_first_of(L"\r\n", from) - from);
}

// A value of the configuration file the wizard writes: GBK text, or UTF-16
// with its byte-order mark when GBK cannot hold it. Read as such rather than
// through the profile functions, which would decode GBK with the ANSI code
// page of whatever system the test runs under.
inline std::wstring ConfigValue(const std::wstring& key)
{
    const std::string bytes = ReadFileBytes(RunConfigFile());
    std::wstring text;
    if (bytes.starts_with("\xFF\xFE")) {
        text.resize((bytes.size() - 2) / sizeof(wchar_t));
        std::memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
    } else {
        text = testing_support::FromCodePage(bytes, 936);
    }
    return ValueIn(std::move(text), key);
}

// The sample configuration with key's line set to value; empty when it has
// no such line.
inline std::string ConfigSetting(const std::wstring& key, const std::wstring& value)
{
    std::string text = ReadResource(Bin(L"setup.exe"), L"INI", 138);
    const size_t at = text.find(WideToCodePage(L"\n" + key + L"=", 936));
    if (at == std::string::npos)
        return {};
    return text.replace(at + 1, text.find_first_of("\r\n", at + 1) - at - 1, WideToCodePage(key + L"=" + value, 936));
}

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

    // Presses button on page, once there is a page, and waits for next:
    // its window, or null.
    static HWND Press(SetupProcess& wizard, HWND page, int button, Page next, DWORD timeoutMs = kDeadlineMs)
    {
        if (!page)
            return nullptr;
        Click(page, button);
        return wizard.WaitForPage(next, timeoutMs);
    }

    // From the welcome page: Next (the destination page), Next (the ready
    // page), Install (the installing page, its worker started); or null.
    static HWND ToDestination(SetupProcess& wizard)
    {
        return Press(wizard, wizard.ShownPage(), kNext, Page::kDestination);
    }
    static HWND ToReady(SetupProcess& wizard) { return Press(wizard, ToDestination(wizard), kNext, Page::kReady); }
    static HWND GoToInstalling(SetupProcess& wizard)
    {
        return Press(wizard, ToReady(wizard), kInstall, Page::kInstalling);
    }

    // Browse on the destination page, the notice a newer Windows gets
    // answered and gone: the folder dialog, or null.
    static HWND OpenFolderDialog(SetupProcess& wizard, HWND destination)
    {
        Click(destination, kBrowse);
        HWND notice = wizard.WaitForBox(kCaption);
        if (!notice)
            return nullptr;
        AnswerBox(notice, IDOK);
        if (!WaitUntil([&] { return !::IsWindow(notice); }))
            return nullptr;
        return wizard.WaitForFolderDialog();
    }
};

// The sample product's wizard, from a clean start each time: nothing of an
// earlier run, installation, registration or link.
class Wizard : public WizardTest {
protected:
    void SetUp() override
    {
        ::DeleteFileW((TempFolder() + L"run-marker.txt").c_str());
        RemoveRegistration();
        for (const auto& leftover : Leftovers(kDefaultInstallDir))
            RemoveTree(L"D:\\Program Files\\" + leftover);
        ASSERT_TRUE(ClearRuns(kDefaultInstallDir));
    }

    static std::wstring SetupExe() { return Bin(L"setup.exe"); }

    // The uninstall entry and the links, gone.
    static void RemoveRegistration()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKey(kDisplayName).c_str());
        ::DeleteFileW(DesktopLink(kDisplayName).c_str());
        RemoveTree(ProgramGroup(kDisplayName));
    }

    // An earlier installation of the product with its user data file.
    static void MakeEarlierInstallation()
    {
        ASSERT_EQ(::SHCreateDirectoryExW(nullptr, kDefaultInstallDir.c_str(), nullptr), ERROR_SUCCESS);
        ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\Marvane.exe", "old program"));
        ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\UserSetting.ini", "[user]\r\nname=keeper\r\n"));
        ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\slot1.sav", "the player's saved game"));
    }

    // An earlier program file, held open without delete sharing as a
    // running program holds its files: the handle, or INVALID_HANDLE_VALUE.
    static HANDLE HoldEarlierProgram()
    {
        if (::SHCreateDirectoryExW(nullptr, kDefaultInstallDir.c_str(), nullptr) != ERROR_SUCCESS ||
            !WriteFileBytes(kDefaultInstallDir + L"\\Marvane.exe", "old program"))
            return INVALID_HANDLE_VALUE;
        return ::CreateFileW((kDefaultInstallDir + L"\\Marvane.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    // The new version in place, the earlier user data and the player's own
    // file in it, nothing beside it.
    static void ExpectUpgraded()
    {
        EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\UserSetting.ini"), "[user]\r\nname=keeper\r\n");
        EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\slot1.sav"), "the player's saved game");
        EXPECT_NE(ReadFileBytes(kDefaultInstallDir + L"\\Marvane.exe"), "old program");
        EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\uninst.exe"));
        EXPECT_EQ(Leftovers(kDefaultInstallDir), std::vector<std::wstring>{});
        EXPECT_TRUE(UninstallKeyExists(kDisplayName));
        EXPECT_TRUE(Exists(DesktopLink(kDisplayName)));
    }

    // The product installed, and its registration.
    static void ExpectInstalled()
    {
        EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
        EXPECT_TRUE(UninstallKeyExists(kDisplayName));
    }

    // GoToInstalling, and the finish page once the installation is done; or
    // null.
    static HWND InstallToFinish(SetupProcess& wizard, DWORD timeoutMs = 60000)
    {
        return GoToInstalling(wizard) ? wizard.WaitForPage(Page::kFinish, timeoutMs) : nullptr;
    }

    // A copy of setup.exe whose payload has enough entries for a cancel to
    // catch the extraction running.
    static std::wstring BigPayloadSetup()
    {
        const std::wstring exe = Work(L"setup.exe");
        const std::string archive = ReadFileBytes(Bin(L"big-payload.7z"));
        EXPECT_FALSE(archive.empty());
        EXPECT_TRUE(CopyWithResource(SetupExe(), exe, L"DATA", 148, archive));
        return exe;
    }

    // Starts the big-payload wizard, installs, and once the extraction runs
    // asks to cancel through ask (the page's Cancel or the close box); the
    // question's box, or null.
    static HWND AskDuringExtraction(std::unique_ptr<SetupProcess>& wizard, HWND* installing,
                                    const std::function<void(SetupProcess&, HWND)>& ask)
    {
        wizard = Start(BigPayloadSetup());
        *installing = GoToInstalling(*wizard);
        if (!*installing)
            return nullptr;
        HWND page = *installing;
        if (!WaitUntil([&] { return ItemText(page, kStatus) == L"正在解压文件"; }))
            return nullptr;
        ask(*wizard, page);
        return wizard->WaitForBox(kQuestionCaption);
    }

    static void PressCancel(SetupProcess&, HWND installing) { Click(installing, kCancel); }

    // After the wizard ended, however it ended.
    static void ExpectNoTemporaryFiles()
    {
        EXPECT_EQ(RunFolders(), std::vector<std::wstring>{});
        EXPECT_FALSE(Exists(TempFolder() + L"incfg.ini"));
    }

    static void ExpectNothingInstalled()
    {
        EXPECT_FALSE(Exists(kDefaultInstallDir));
        EXPECT_FALSE(Exists(kDefaultInstallDir + L".temp"));
        EXPECT_FALSE(UninstallKeyExists(kDisplayName));
        EXPECT_FALSE(Exists(DesktopLink(kDisplayName)));
        EXPECT_FALSE(Exists(ProgramGroup(kDisplayName)));
    }
};

}  // namespace e2e
