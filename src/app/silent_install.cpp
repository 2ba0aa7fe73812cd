#include "app/silent_install.h"

#include "app/integrity_check.h"
#include "config/config.h"
#include "config/default_install_dir.h"
#include "system/install_folder.h"
#include "engine/install_engine.h"
#include "framework/worker_thread.h"
#include "system/drives.h"

#include <windows.h>


namespace {

// Shows nothing and asks nobody: a question is answered with Cancel, and
// the engine's failure tells the reason.
class SilentHost : public InstallHost {
public:
    void ShowStatus(const wchar_t*) override {}
    void ShowDetail(const wchar_t*) override {}
    void ShowProgress(int32_t, int32_t) override {}
    void ShowEntry(const wchar_t*, const wchar_t*, int32_t, int32_t) override {}
    bool AskRetry(const wchar_t*) override { return false; }
    void TellError(const wchar_t*) override {}
};

int InstallInto(const Configuration& configuration, const std::wstring& installDir, const ResourceWindow& payload)
{
    // The chosen folder in the run's copy, for whoever looks at it.
    if (!WriteSetting(kKeySetupDir, installDir))
        return kSilentNoConfiguration;

    SilentHost host;
    InstallEngine engine(configuration, payload);
    if (!engine.Attach(&host))
        return kSilentInstallFailed;
    auto worker = framework::WorkerThread::Start(&InstallEngine::InstallThreadProc, &engine);
    if (!worker)
        return kSilentInstallFailed;
    engine.SignalStart(installDir);
    worker->Wait(INFINITE);
    bool succeeded = false;
    if (!engine.WorkerEnded(&succeeded))
        return kSilentInstallFailed;
    if (succeeded)
        return kSilentSucceeded;
    switch (engine.Failure()) {
    case InstallFailure::kFolderRefused:
        return kSilentFolderRefused;
    case InstallFailure::kProgramRunning:
        return kSilentProgramInUse;
    case InstallFailure::kDiskFull:
        return kSilentNoSpace;
    default:
        return kSilentInstallFailed;
    }
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
                                                 : ClassifyInstallFolder(installDir, configuration.Setting(kKeyExe),
                                                                         configuration.Setting(kKeyUserDataFile));
    // A program holding a file the run would replace is the run's own
    // finding (exit 7): files it keeps may stay in use.
    if (installDir.empty() || IsProtectedFolder(installDir) || state == FolderState::Foreign)
        result = kSilentFolderRefused;
    else if (GetDiskFreeMB(GetDrivePart(installDir)) < static_cast<double>(configuration.SettingInt(kKeySize, 0)))
        result = kSilentNoSpace;
    else
        result = InstallInto(configuration, installDir, integrity.Payload());
    DeleteConfigFile();
    return result;
}
