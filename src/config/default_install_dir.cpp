// The default installation folder, from the configuration and the
// drives; the drive search itself is in sp_system.
#include "config/config.h"
#include "config/default_install_dir.h"
#include "system/drives.h"
#include "system/file_ops.h"
#include "system/windows_version.h"

std::wstring ComposeInstallDir(const Configuration& configuration, const InstallDriveFinder& findDrive)
{
    const std::wstring setupDir = configuration.Setting(kKeySetupDir);
    const int requiredMB = configuration.SettingInt(kKeySize);
    const bool newer = IsNewerWindows(GetWindowsVersionName());

    std::wstring base;
    if (setupDir.empty()) {
        const std::wstring drive = findDrive(newer, requiredMB);
        base = JoinPath(drive, L"Program Files (x86)");
        if (!IsDirectory(base.c_str()))
            base = JoinPath(drive, L"Program Files");
    } else {
        // A folder the user chose earlier stays as it is, room or not; one on
        // a drive that is gone or not fixed gets a fresh default.
        if (IsFixedDrive(GetDrivePart(setupDir)))
            return setupDir;
        base = JoinPath(findDrive(newer, requiredMB), L"Program Files");
    }
    if (base.empty())
        return {};
    return JoinPath(base, configuration.Setting(kKeyFolder, kDefaultFolderName));
}

std::wstring ComposeDefaultInstallDir(const Configuration& configuration)
{
    return ComposeInstallDir(configuration, FindInstallDrive);
}
