#include "app/setup_app.h"

#include "app/integrity_check.h"
#include "app/main_dialog.h"
#include "app/silent_install.h"
#include "config/config.h"
#include "config/run_copy.h"
#include "engine/install_engine.h"
#include "framework/safe_loading.h"
#include "system/install_log.h"
#include "system/run_folder.h"

bool CSetupApp::InitInstance()
{
    const SetupArguments arguments = ParseSetupArguments(::GetCommandLineW());
    if (arguments.log) {
        Configuration configuration;
        Configuration::FromResource(nullptr, &configuration);
        StartInstallLog(arguments.logFile, L"setup.exe", L"setup", configuration.Setting(kKeyDisplayName),
                        configuration.Setting(kKeyDisplayVersion), arguments.silent, L"wizard");
    }
    // Named after the executable, so that copies under other names run side
    // by side. Never closed: it marks this copy until the process ends.
    HANDLE marker = ::CreateMutexW(nullptr, TRUE, Name().c_str());
    if (marker && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(marker);
        exitCode_ = arguments.silent ? kSilentAlreadyRunning : 0;
        LogLine(L"another copy of this installer (" + Name() + L") is running; exit code " + std::to_wstring(exitCode_));
        return false;
    }
    // The payload is opened once, before anything else, and held: the file
    // that holds it can be renamed away and replaced only until this point.
    // The check below and the installation read through this window alone.
    PayloadSource payload;
    OpenPayload(nullptr, &payload);
    framework::InitCommonControlsFromSystem();
    {
        // From the start, beside the wizard's own set-up: a damaged download
        // is found before anything can be installed from it.
        IntegrityCheck integrity(std::move(payload));
        integrity.Start();
        if (arguments.silent) {
            exitCode_ = RunSilentInstall(arguments, integrity);
        } else {
            CSPMainDialog frame(&integrity);
            frame.DoModal(nullptr);
            // The frame's window is gone: a check still running tells no one.
            integrity.NotifyWhenDone(nullptr, 0);
        }
    }
    // However the wizard or the silent installation ended (finished, failed,
    // cancelled, closed), the run's temporary folder goes with it, once the
    // pages and the check have let go of what they held there.
    DeleteConfigFile();
    RemoveRunFolder();
    LogLine(L"exit code " + std::to_wstring(exitCode_));
    return false;
}

int CSetupApp::ExitInstance()
{
    framework::Application::ExitInstance();
    return exitCode_;
}
