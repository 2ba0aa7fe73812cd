// Drives the real setup.exe from a second process in the same Wine prefix:
// finds its frame by title and the visible page among the frame's children,
// presses buttons by control id, answers message boxes by caption, reads
// every text, and saves screenshots.
#pragma once

#include "support/test_support.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Where the test prefix keeps everything: its own drive D:, so that the
// wizard's default folder lands on it and nowhere on the host.
inline constexpr const wchar_t* kBinFolder = L"D:\\e2e\\bin";
inline constexpr const wchar_t* kWorkFolder = L"D:\\e2e\\work";
inline constexpr const wchar_t* kShotsFolder = L"D:\\e2e\\shots";
inline std::wstring Bin(const std::wstring& name) { return std::wstring(kBinFolder) + L"\\" + name; }
inline std::wstring Work(const std::wstring& name) { return std::wstring(kWorkFolder) + L"\\" + name; }

inline constexpr DWORD kDeadlineMs = 20000;

enum class Page { kNone, kWelcome, kDestination, kReady, kInstalling, kFinish, kCancelled };
const char* PageName(Page page);

using testing_support::WaitUntil;

std::wstring WindowText(HWND window);
std::wstring ItemText(HWND dialog, int id);
std::vector<std::wstring> ListLines(HWND listBox);

// Presses a button without waiting for what it does, which may be a box
// that waits for us.
void Click(HWND dialog, int id);
// A key press delivered to window as the keyboard would queue it.
void PressKey(HWND window, WORD key);

class SetupProcess {
public:
    // Starts exe with arguments from its own folder; extraEnvironment adds
    // NAME=VALUE pairs to this process's environment for the child.
    explicit SetupProcess(const std::wstring& exe, const std::vector<std::wstring>& extraEnvironment = {},
                          const std::wstring& arguments = L"");
    ~SetupProcess();
    SetupProcess(const SetupProcess&) = delete;
    SetupProcess& operator=(const SetupProcess&) = delete;

    bool Started() const { return info_.hProcess != nullptr; }
    DWORD Id() const { return info_.dwProcessId; }
    HANDLE Handle() const { return info_.hProcess; }
    bool WaitForExit(DWORD timeoutMs = kDeadlineMs) const;
    // The exit code, or STILL_ACTIVE while the process runs.
    DWORD ExitCode() const;

    // The wizard's frame, once it exists; null at the deadline.
    HWND WaitForFrame(DWORD timeoutMs = kDeadlineMs);
    HWND Frame() const { return frame_; }

    // The frame's visible page window and what it is.
    HWND ShownPage() const;
    Page ShownPageKind() const;
    // Waits for page to be the one shown; its window, or null.
    HWND WaitForPage(Page page, DWORD timeoutMs = kDeadlineMs) const;

    // A top-level window of this process with the caption (a message box),
    // once it is visible; null at the deadline.
    HWND WaitForBox(const std::wstring& caption, DWORD timeoutMs = kDeadlineMs) const;
    // Whether such a window exists now.
    HWND FindBox(const std::wstring& caption) const;
    // The shell's folder dialog of this process.
    HWND WaitForFolderDialog(DWORD timeoutMs = kDeadlineMs) const;
    // Selects path in the folder dialog as its own caller could, then OK.
    bool ChooseInFolderDialog(HWND dialog, const std::wstring& path) const;

    // How many visible top-level windows of this process have the caption:
    // the boxes it shows at once.
    int CountBoxes(const std::wstring& caption) const;

    // The focused window of the process's user-interface thread.
    HWND FocusWindow() const;

    // Loads a DLL of the tests' own into the process, as a debugger would,
    // for what only code inside it can see; true once LoadLibraryW returned
    // it there.
    bool LoadLibraryInto(const std::wstring& dll) const;

private:
    PROCESS_INFORMATION info_{};
    HWND frame_ = nullptr;
};

Page IdentifyPage(HWND page);

// The text of a message box (its static text).
std::wstring BoxText(HWND box);
// Presses one of a message box's buttons (IDOK, IDCANCEL).
void AnswerBox(HWND box, int buttonId);

// Saves the screen area of the given windows (their union) as
// kShotsFolder\name.bmp; the test script turns them into PNG files.
bool SaveScreenshot(const std::wstring& name, std::initializer_list<HWND> windows);

// Files and folders of the scratch world; reading a missing file gives no
// bytes, and a failed write false, so that tests can expect on them.
using testing_support::Exists;
using testing_support::RemoveTree;
using testing_support::Utf8ToWide;
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::wstring TempFolder();
// The wizards' own temporary folders in TempFolder() (setup-run-*), sorted.
std::vector<std::wstring> RunFolders();
// incfg.ini in the first of them; a path that does not exist when there is none.
std::wstring RunConfigFile();
std::wstring SpecialFolder(int csidl);
std::string WideToCodePage(const std::wstring& text, UINT codePage);

// What a product's installation registers and links, by its names: the
// uninstall entry (a value of it; empty when missing), the desktop link and
// the program group.
std::wstring UninstallKey(const std::wstring& displayName);
bool UninstallKeyExists(const std::wstring& displayName);
std::wstring UninstallValue(const std::wstring& displayName, const wchar_t* name);
std::wstring DesktopLink(const std::wstring& linkName);
std::wstring ProgramGroup(const std::wstring& displayName);

// What lies beside installDir under its name ("Tovani.temp" beside
// "Tovani"): a staging or an aside folder left behind.
std::vector<std::wstring> Leftovers(const std::wstring& installDir);

// A copy of setup.exe at target with one resource replaced by bytes, or
// removed when bytes is null, and nothing else changed: a digest stays as
// it was. False when the copy or the update failed.
bool CopyChangingResource(const std::wstring& source, const std::wstring& target, const wchar_t* type, int id,
                          const std::string* bytes);
// The same with its digest (when it has one) made to fit what it carries.
bool CopyWithResource(const std::wstring& source, const std::wstring& target, const wchar_t* type, int id,
                      const std::string& bytes);
// A copy at target with one byte of a resource changed in the file, as a
// download damaged in transit has it; target, or empty when it failed.
std::wstring DamagedCopy(const std::wstring& source, const wchar_t* type, int id, const std::wstring& target);
// The bytes of a resource of an executable on disk.
std::string ReadResource(const std::wstring& exe, const wchar_t* type, int id);

}  // namespace e2e
