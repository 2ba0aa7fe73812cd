// Free space, drive names, and the default installation folder that the
// destination page proposes.
//
// ComposeInstallDir and ComposeDefaultInstallDir read the configuration,
// so they are defined in sp_config, which sits above sp_system: link
// sp_config to call them. Everything else here is in sp_system.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// All free space of the volume holding path, in MiB with its fraction
// (regardless of the caller's quota); 0.0 when it cannot be had.
double GetDiskFreeMB(const std::wstring& path);

// The text before the first backslash (D: for D:\Games); the whole text when
// it holds none; empty when it begins with one.
std::wstring GetDrivePart(const std::wstring& path);

// True when GetDriveTypeW of drive (such as D:) is DRIVE_FIXED.
bool IsFixedDrive(const std::wstring& drive);

// One entry of the system's drive list, as the search sees it.
struct DriveEntry {
    std::wstring root;  // D:\ as the system lists it
    UINT type;          // GetDriveTypeW of the root
    double freeMB;      // GetDiskFreeMB of the drive part; only fixed drives are measured
};

// The search over given drives, in list order: the root of the first fixed
// drive with strictly more than requiredMB MiB free, skipping the drive of
// systemDirectory when avoidSystemDrive is set. When none qualifies, the
// drive part of systemDirectory (C:, no backslash); empty when that is empty
// too.
std::wstring ChooseInstallDrive(const std::vector<DriveEntry>& drives, const std::wstring& systemDirectory,
                                bool avoidSystemDrive, int32_t requiredMB);

// ChooseInstallDrive over the system's drives and system directory.
std::wstring FindInstallDrive(bool avoidSystemDrive, int32_t requiredMB);
