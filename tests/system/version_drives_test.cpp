// The version table and the drive search over given inputs, and their thin
// wrappers against what Wine reports.
#include "system/drives.h"
#include "system/windows_version.h"
#include "support/test_support.h"

#include <climits>

namespace {

TEST(WindowsVersionTest, EveryRowOfTheTableGivesItsName)
{
    const char* unknown = kUnknownWindowsName;
    const struct {
        DWORD platform, major, minor;
        BYTE product;
        const char* name;
    } rows[] = {
        {1, 4, 0, 0, "WIN95"},   {1, 9, 0, 0, "WIN95"},       {1, 4, 10, 0, "WIN98"},  {1, 4, 90, 0, "WINME"},
        {1, 4, 50, 0, unknown},  {2, 3, 51, 1, "WINNT"},      {2, 4, 0, 1, "WINNT"},   {2, 5, 0, 1, "WIN2000"},
        {2, 5, 1, 1, "WINXP"},   {2, 5, 2, 1, "WIN2003"},     {2, 5, 3, 1, unknown},   {2, 6, 0, 1, "WINVISTA"},
        {2, 6, 0, 3, "WIN2008"}, {2, 6, 1, 1, "WIN7"},        {2, 6, 1, 3, "WIN2008R2"}, {2, 6, 1, 2, "WIN2008R2"},
        {2, 6, 2, 3, "WIN8"},    {2, 6, 3, 1, unknown},       {2, 10, 0, 1, unknown},  {0, 6, 1, 1, unknown},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.name, ClassifyWindowsVersion(row.platform, row.major, row.minor, row.product))
            << row.platform << " " << row.major << "." << row.minor << " type " << int(row.product);
    EXPECT_EQ("WIN7", GetWindowsVersionName());  // what Wine reports

    for (const char* name : {"WIN7", "WINVISTA", "WIN2008", "WIN8"})
        EXPECT_TRUE(IsNewerWindows(name)) << name;
    for (const char* name : {"WIN2008R2", "WIN2003", "WINXP", "win7", "", unknown})
        EXPECT_FALSE(IsNewerWindows(name)) << name;
}

TEST(InstallDriveTest, FirstFixedDriveWithMoreThanTheRequirementWins)
{
    const std::wstring system = L"C:\\Windows\\system32";
    const std::vector<DriveEntry> drives = {
        {L"A:\\", DRIVE_REMOVABLE, 5000.0}, {L"C:\\", DRIVE_FIXED, 5000.0}, {L"D:\\", DRIVE_FIXED, 210.0},
        {L"E:\\", DRIVE_CDROM, 5000.0},     {L"F:\\", DRIVE_FIXED, 210.5},
    };
    EXPECT_EQ(L"C:\\", ChooseInstallDrive(drives, system, false, 210));
    EXPECT_EQ(L"F:\\", ChooseInstallDrive(drives, system, true, 210));  // D: has exactly 210
    EXPECT_EQ(L"C:", ChooseInstallDrive(drives, system, true, 211));
    EXPECT_EQ(L"C:", ChooseInstallDrive({{L"C:\\", DRIVE_FIXED, 900.0}}, system, true, 0));
    // A data drive C: before the system drive D:.
    EXPECT_EQ(L"C:\\", ChooseInstallDrive(drives, L"D:\\WINDOWS\\system32", false, 100));
    EXPECT_EQ(L"", ChooseInstallDrive({}, L"", true, 0));

    EXPECT_EQ(L"C:", GetDrivePart(L"C:\\"));
    EXPECT_EQ(L"D:", GetDrivePart(L"D:"));
    EXPECT_EQ(L"", GetDrivePart(L"\\\\server\\share"));
}

TEST(InstallDriveTest, WrappersAnswerFromTheRealDrives)
{
    EXPECT_TRUE(IsFixedDrive(L"C:"));
    EXPECT_FALSE(IsFixedDrive(L""));
    EXPECT_FALSE(IsFixedDrive(L"Q:"));
    EXPECT_GT(GetDiskFreeMB(L"C:"), 0.0);
    EXPECT_EQ(0.0, GetDiskFreeMB(L"Q:\\"));
    // Wine's drives: C:, the system drive, and Z:, both fixed.
    EXPECT_EQ(L"C:\\", FindInstallDrive(false, 0));
    EXPECT_EQ(L"Z:\\", FindInstallDrive(true, 0));
    EXPECT_EQ(L"C:", FindInstallDrive(true, INT_MAX));
}

}  // namespace
