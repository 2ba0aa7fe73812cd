#include "app/silent_install.h"

#include "app/integrity_check.h"
#include "config/config.h"
#include "config/run_copy.h"
#include "config/default_install_dir.h"
#include "system/install_folder.h"
#include "engine/install_engine.h"
#include "framework/worker_thread.h"
#include "system/drives.h"
#include "system/install_log.h"

#include <windows.h>

namespace {

int InstallInto(const Configuration& configuration, const std::wstring& installDir, const PayloadSource& payload)
{
    // The chosen folder in the run's copy, for whoever looks at it.
    if (!WriteSetting(kKeySetupDir, installDir)) {
        LogFailure(L"the chosen folder could not be added to the configuration copy", ::GetLastError());
        return kSilentNoConfiguration;
    }

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
    // A piece of a data file that does not match its table is found only
    // as it is unpacked: the same download damaged as at start-up.
    case InstallFailure::kDamaged:
        return kSilentDamaged;
    default:
        return kSilentInstallFailed;
    }
}

}  // namespace

int RunSilentInstall(const SetupArguments& arguments, IntegrityCheck& integrity)
{
    if (arguments.unknown) {
        LogLine(L"refused: an argument other than /S, /LOG and /D=");
        return kSilentBadArguments;
    }
    std::wstring installDir;
    if (arguments.hasFolder) {
        installDir = NormalizeInstallDir(arguments.folder);
        if (installDir.empty()) {
            const bool device = IsDevicePathForm(arguments.folder);
            LogLine(L"folder from /D=: " + arguments.folder +
                    (device ? L"; refused: a device path form" : L"; refused: not a full path"));
            return device ? kSilentFolderRefused : kSilentBadArguments;
        }
    }
    if (!integrity.Passed()) {
        LogLine(integrity.MissingDataFile().empty()
                    ? L"refused: the installer is damaged"
                    : L"refused: the data file " + integrity.MissingDataFile() + L" is not in " +
                          integrity.DataFolder());
        return kSilentDamaged;
    }
    Configuration configuration;
    if (!Configuration::FromResource(nullptr, &configuration)) {
        LogLine(L"refused: the installer carries no configuration");
        return kSilentNoConfiguration;
    }
    if (!WriteConfigFile(configuration)) {
        LogFailure(L"the configuration copy could not be written", ::GetLastError());
        return kSilentNoConfiguration;
    }

    int result = kSilentSucceeded;
    if (arguments.hasFolder) {
        LogLine(L"folder from /D=: " + installDir);
    } else {
        const std::wstring proposed = ComposeDefaultInstallDir(configuration);
        installDir = NormalizeInstallDir(proposed);
        LogLine(L"folder proposed: " + proposed);
    }
    const FolderState state =
        installDir.empty() ? FolderState::Foreign : InstallFolderState(configuration, installDir);
    // A program holding a file the run would replace is the run's own
    // finding (exit 7): files it keeps may stay in use.
    const double freeMB = installDir.empty() ? 0 : GetDiskFreeMB(GetDrivePart(installDir));
    const int neededMB =
        RequiredSpaceMB(configuration.SettingInt(kKeySize, 0), PayloadUnpackedBytes(integrity.Payload()));
    if (installDir.empty()) {
        LogLine(L"folder refused: no usable folder");
        result = kSilentFolderRefused;
    } else if (IsProtectedFolder(installDir)) {
        LogLine(L"folder refused: a drive root or a system folder");
        result = kSilentFolderRefused;
    } else if (state == FolderState::Foreign) {
        LogLine(L"folder refused: it holds files that are not this product's");
        result = kSilentFolderRefused;
    } else if (freeMB < static_cast<double>(neededMB)) {
        LogLine(L"not enough space: drive " + GetDrivePart(installDir) + L" has " +
                std::to_wstring(static_cast<long long>(freeMB)) + L" MB free; the product needs " +
                std::to_wstring(neededMB) + L" MB");
        result = kSilentNoSpace;
    } else {
        result = InstallInto(configuration, installDir, integrity.Payload());
    }
    DeleteConfigFile();
    return result;
}
