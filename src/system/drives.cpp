#include "system/drives.h"

#include <cwchar>

double GetDiskFreeMB(const std::wstring& path)
{
    ULARGE_INTEGER totalFree = {};
    if (!::GetDiskFreeSpaceExW(path.c_str(), nullptr, nullptr, &totalFree))
        return 0.0;
    return static_cast<double>(totalFree.QuadPart) * 9.5367431640625e-07;
}

std::wstring GetDrivePart(const std::wstring& path) { return path.substr(0, path.find(L'\\')); }

bool IsFixedDrive(const std::wstring& drive)
{
    // GetDriveTypeW of an empty text answers for the current folder's drive,
    // which says nothing about the path the caller holds (\\server\share).
    if (drive.empty())
        return false;
    return ::GetDriveTypeW(drive.c_str()) == DRIVE_FIXED;
}

std::wstring ChooseInstallDrive(const std::vector<DriveEntry>& drives, const std::wstring& systemDirectory,
                                bool avoidSystemDrive, int32_t requiredMB)
{
    const std::wstring systemDrive = GetDrivePart(systemDirectory);
    for (const DriveEntry& drive : drives) {
        if (drive.root.empty())
            continue;
        const bool qualifies = drive.type == DRIVE_FIXED && drive.freeMB > static_cast<double>(requiredMB);
        if (!qualifies)
            continue;
        if (!avoidSystemDrive || ::lstrcmpW(systemDrive.c_str(), GetDrivePart(drive.root).c_str()) != 0)
            return drive.root;
    }
    return systemDrive;
}

std::wstring FindInstallDrive(bool avoidSystemDrive, int32_t requiredMB)
{
    wchar_t list[MAX_PATH] = {};
    ::GetLogicalDriveStringsW(MAX_PATH - 1, list);
    std::vector<DriveEntry> drives;
    for (const wchar_t* root = list; *root; root += std::wcslen(root) + 1) {
        DriveEntry entry{root, ::GetDriveTypeW(root), 0.0};
        // Only fixed drives can qualify; asking a floppy or an empty CD drive
        // for its free space may make the system wait for a medium.
        if (entry.type == DRIVE_FIXED)
            entry.freeMB = GetDiskFreeMB(GetDrivePart(entry.root));
        drives.push_back(std::move(entry));
    }
    wchar_t systemDirectory[MAX_PATH] = {};
    ::GetSystemDirectoryW(systemDirectory, MAX_PATH);
    return ChooseInstallDrive(drives, systemDirectory, avoidSystemDrive, requiredMB);
}
