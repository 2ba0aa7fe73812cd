// The folder the destination page and the silent installation propose:
// from the configuration, on the drive the system's drives allow.
#pragma once

#include "config/config.h"
#include "system/drives.h"

#include <cstdint>
#include <functional>
#include <string>

using InstallDriveFinder = std::function<std::wstring(bool avoidSystemDrive, int32_t requiredMB)>;

// The default installation folder from the configuration: a preset
// OBJ_IN_SETUP_DIR on a fixed drive exactly as stored; otherwise the drive
// findDrive names (avoiding the system drive on a newer Windows, with
// OBJ_IN_SIZE as the requirement), its Program Files (x86) folder when that
// exists (only without a preset) or else Program Files, and OBJ_IN_FOLDER
// (default "Marvane") under it. Empty when no drive can be found.
std::wstring ComposeInstallDir(const Configuration& configuration, const InstallDriveFinder& findDrive);

// ComposeInstallDir with FindInstallDrive.
std::wstring ComposeDefaultInstallDir(const Configuration& configuration);
