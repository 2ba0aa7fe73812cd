#include "app/silent_install.h"

#include "app/integrity_check.h"
#include "config/config.h"
#include "config/default_install_dir.h"
#include "engine/install_engine.h"
#include "engine/install_folder.h"
#include "framework/worker_thread.h"
#include "system/drives.h"

#include <windows.h>


namespace {

constexpr const wchar_t* kHostClass = L"SetupSilentHost";

// Answers the sequence's error boxes with Cancel instead of showing them:
// the engine's failure tells the reason.
class SilentServices : public InstallServices {
public:
    int ShowError(HWND, const wchar_t*, const wchar_t*, UINT) override { return IDCANCEL; }
};

// The window the engine draws on and reports to: never shown. It has none
// of the page's controls, so the engine's texts go nowhere; the failure
// report runs the rollback here, on the thread that pumps this window.
LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* engine = reinterpret_cast<InstallEngine*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_INSTALL_FAILED && engine) {
        try {
            return engine->OnInstallFailed(wParam);
        } catch (...) {
            return 0;
        }
    }
    // The sequence closes the page when the new files cannot be moved
    // into place; there is no page to close.
    if (message == WM_CLOSE)
        return 0;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

int InstallInto(const std::wstring& installDir, const ResourceWindow& payload)
{
    if (!WriteSetting(kKeySetupDir, installDir))
        return kSilentNoConfiguration;

    SilentServices services;
    InstallEngine engine(payload, &services);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kHostClass;
    ::RegisterClassW(&wc);
    HWND host = ::CreateWindowExW(0, kHostClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (!host)
        return kSilentInstallFailed;
    ::SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&engine));
    int result = kSilentInstallFailed;
    if (engine.Attach(host)) {
        if (auto worker = framework::WorkerThread::Start(&InstallEngine::InstallThreadProc, &engine)) {
            engine.SignalStart();
            // Pump this thread's messages (the rollback and the engine's
            // refreshes arrive as messages) until the worker has ended.
            bool succeeded = false;
            HANDLE thread = worker->Handle();
            while (!engine.WorkerEnded(&succeeded)) {
                ::MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT);
                MSG message;
                while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                    ::TranslateMessage(&message);
                    ::DispatchMessageW(&message);
                }
            }
            worker->Wait(INFINITE);
            if (succeeded)
                result = kSilentSucceeded;
            else if (engine.Failure() == InstallFailure::kFolderRefused)
                result = kSilentFolderRefused;
            else if (engine.Failure() == InstallFailure::kProgramRunning)
                result = kSilentProgramInUse;
            else if (engine.Failure() == InstallFailure::kDiskFull)
                result = kSilentNoSpace;
        }
    }
    ::DestroyWindow(host);
    return result;
}

}  // namespace

int RunSilentInstall(const SetupArguments& arguments, IntegrityCheck& integrity)
{
    if (arguments.unknown)
        return kSilentBadArguments;
    std::wstring installDir;
    if (arguments.hasFolder) {
        installDir = NormalizeInstallDir(arguments.folder);
        if (installDir.empty())
            return IsDevicePathForm(arguments.folder) ? kSilentFolderRefused : kSilentBadArguments;
    }
    if (!integrity.Passed())
        return kSilentDamaged;
    Configuration configuration;
    if (!Configuration::FromResource(nullptr, &configuration) || !WriteConfigFile(configuration))
        return kSilentNoConfiguration;

    int result = kSilentSucceeded;
    if (!arguments.hasFolder)
        installDir = NormalizeInstallDir(ComposeDefaultInstallDir(configuration));
    const FolderState state = installDir.empty() ? FolderState::Foreign
                                                 : ClassifyInstallFolder(installDir, ReadSetting(kKeyExe),
                                                                         ReadSetting(kKeyUserDataFile));
    if (installDir.empty() || IsProtectedFolder(installDir) || state == FolderState::Foreign)
        result = kSilentFolderRefused;
    else if (GetDiskFreeMB(GetDrivePart(installDir)) < static_cast<double>(ReadSettingInt(kKeySize, 0)))
        result = kSilentNoSpace;
    else if (state == FolderState::EarlierInstall && HasFileInUse(installDir))
        result = kSilentProgramInUse;
    else
        result = InstallInto(installDir, integrity.Payload());
    DeleteConfigFile();
    return result;
}
