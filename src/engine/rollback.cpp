// The undo after a failed or cancelled run, on the page's thread while the
// worker waits for it.
#include "engine/install_engine.h"
#include "engine/install_folder.h"

#include "config/config.h"
#include "system/file_ops.h"
#include "system/shortcuts.h"
#include "system/uninstall.h"

LRESULT InstallEngine::OnInstallFailed(WPARAM stepsDone)
{
    // The bar runs back from the last entry begun to 1, one redraw a step.
    for (int32_t n = static_cast<int32_t>(stepsDone); n >= 1; --n) {
        progress_.progressPosition.Set(n);
        RefreshProgressBar();
    }
    RollbackInstall();
    return 0;
}

void InstallEngine::RollbackInstall()
{
    SetPageText(IDC_INSTALL_STATUS, nullptr);
    SetPageText(IDC_INSTALL_DETAIL, nullptr);
    RefreshProgressBar();

    // Found by name: what an earlier installation of the same product made
    // goes too, as the new run has replaced or was about to replace it.
    RemoveDesktopShortcut(ReadSetting(kKeyExeLink).c_str());
    RemoveProgramGroup(page_, ReadSetting(kKeyDisplayName).c_str());
    RemoveUninstallEntry();

    // Only a staging folder this run made or took over is deleted; a folder
    // of that name that was there before is someone else's.
    if (stagingOwned_) {
        const std::wstring stagingDir = StagingFolderPath(NormalizeInstallDir(ReadSetting(kKeySetupDir)));
        if (!stagingDir.empty() && FileExists(stagingDir.c_str()))
            DeletePath(stagingDir.c_str());
        stagingOwned_ = false;
    }
    progress_.progressPosition.Set(0);
}
