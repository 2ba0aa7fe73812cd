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

int InstallInto(const Configuration& configuration, const std::wstring& installDir, const ResourceWindow& payload)
{
    // The chosen folder in the run's copy, for whoever looks at it.
    if (!WriteSetting(kKeySetupDir, installDir))
        return kSilentNoConfiguration;

    // Nobody is shown anything: a question is answered with Cancel, and the
    // engine's failure tells the reason.
    InstallEngine engine(configuration, payload);
    if (!engine.Attach(nullptr))
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
    const FolderState state =
        installDir.empty() ? FolderState::Foreign : InstallFolderState(configuration, installDir);
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
