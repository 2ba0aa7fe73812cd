// The default installation folder from a configuration of the test's own,
// with a scratch folder standing in for the drive the search found.
#include "config/config.h"
#include "config/default_install_dir.h"
#include "system/drives.h"
#include "system/windows_version.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

class DefaultInstallDirTest : public ::testing::Test {
protected:
    DefaultInstallDirTest()
    {
        ::CreateDirectoryW(drive.c_str(), nullptr);
        Set(kKeySize, L"210");
        Set(kKeyFolder, L"Tovani");
    }
    void Set(const wchar_t* key, const wchar_t* value) { configuration.Set(kConfigSection, key, value); }
    std::wstring Compose()
    {
        return ComposeInstallDir(configuration, [this](bool avoidSystemDrive, int32_t requiredMB) {
            searches.push_back({avoidSystemDrive, requiredMB});
            return drive;
        });
    }

    ScratchDir scratch;
    Configuration configuration;
    std::wstring drive = scratch.Join(L"drive\\");
    std::vector<std::pair<bool, int32_t>> searches;
};

TEST_F(DefaultInstallDirTest, ProgramFilesX86IsPreferredWhenItExists)
{
    EXPECT_EQ(drive + L"Program Files\\Tovani", Compose());
    ::CreateDirectoryW((drive + L"Program Files (x86)").c_str(), nullptr);
    EXPECT_EQ(drive + L"Program Files (x86)\\Tovani", Compose());
    const std::pair<bool, int32_t> search = {IsNewerWindows(GetWindowsVersionName()), 210};
    EXPECT_EQ((std::vector{search, search}), searches);

    configuration = Configuration("[IN_INFO]\r\nOBJ_IN_SIZE=210\r\n");
    EXPECT_EQ(drive + L"Program Files (x86)\\Marvane", Compose());
    Set(kKeyFolder, L"");
    EXPECT_EQ(drive + L"Program Files (x86)\\", Compose());
    drive.clear();
    EXPECT_EQ(L"", Compose());
}

TEST_F(DefaultInstallDirTest, PresetFolderIsKeptOnlyOnAFixedDrive)
{
    Set(kKeySetupDir, L"C:\\没有的 文件夹\\Quenlo");
    EXPECT_EQ(L"C:\\没有的 文件夹\\Quenlo", Compose());
    EXPECT_TRUE(searches.empty());
    EXPECT_EQ(L"C:\\没有的 文件夹\\Quenlo", ComposeDefaultInstallDir(configuration));
    // Elsewhere a fresh default, and then never under Program Files (x86).
    ::CreateDirectoryW((drive + L"Program Files (x86)").c_str(), nullptr);
    for (const wchar_t* elsewhere : {L"Q:\\Games\\Quenlo", L"\\\\server\\share\\Quenlo"}) {
        Set(kKeySetupDir, elsewhere);
        EXPECT_EQ(drive + L"Program Files\\Tovani", Compose()) << elsewhere;
    }
}

}  // namespace
