// Which folders the installer may take, and the staging folder's name.
#include "engine/install_engine.h"
#include "system/install_folder.h"

#include "support/test_support.h"

#include <shlobj.h>

using namespace testing_support;

TEST(StagingFolder, LiesBesideTheInstallationFolder)
{
    EXPECT_EQ(StagingFolderPath(L"C:\\Program Files\\Tovani"), L"C:\\Program Files\\Tovani.temp");
    EXPECT_EQ(StagingFolderPath(L"D:\\Tovani"), L"D:\\Tovani.temp");
    EXPECT_EQ(StagingFolderPath(L"Tovani"), L"Tovani\\Tovani.temp");
    EXPECT_EQ(StagingFolderPath(L""), L"");
}

TEST(InstallFolder, NormalizesToAFullPathWithoutTrailingBackslash)
{
    EXPECT_EQ(NormalizeInstallDir(L"D:\\Games\\Tovani\\"), L"D:\\Games\\Tovani");
    EXPECT_EQ(NormalizeInstallDir(L"D:/Games/Tovani//"), L"D:\\Games\\Tovani");
    EXPECT_EQ(NormalizeInstallDir(L"D:\\Games\\..\\Tovani"), L"D:\\Tovani");
    EXPECT_EQ(NormalizeInstallDir(L"Tovani"), L"");
    EXPECT_EQ(NormalizeInstallDir(L"D:Tovani"), L"");
    EXPECT_EQ(NormalizeInstallDir(L""), L"");
}

TEST(InstallFolder, RefusesRootsSystemFoldersAndWhatLiesAboveThem)
{
    auto folder = [](int csidl) {
        wchar_t path[MAX_PATH] = {};
        ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
        return NormalizeInstallDir(path);
    };
    for (const std::wstring& path :
         {std::wstring(L"C:"), std::wstring(L"D:"), folder(CSIDL_WINDOWS), folder(CSIDL_PROGRAM_FILES),
          folder(CSIDL_PROGRAM_FILESX86), folder(CSIDL_COMMON_APPDATA), folder(CSIDL_PROFILE),
          folder(CSIDL_DESKTOPDIRECTORY), folder(CSIDL_PERSONAL), NormalizeInstallDir(L"C:\\users"),
          NormalizeInstallDir(L"c:\\WINDOWS"), std::wstring(L"\\\\server\\share")})
        EXPECT_TRUE(IsProtectedFolder(path)) << WideToUtf8(path);
    for (const std::wstring& path : {folder(CSIDL_PROGRAM_FILES) + L"\\Tovani", std::wstring(L"C:\\Games\\Tovani"),
                                     std::wstring(L"\\\\server\\share\\Games")})
        EXPECT_FALSE(IsProtectedFolder(path)) << WideToUtf8(path);
}

TEST(InstallFolder, TellsAnEarlierInstallationFromSomeoneElsesFolder)
{
    ScratchDir scratch;
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"absent"), L"Marvane.exe"), FolderState::Absent);
    ::CreateDirectoryW(scratch.Join(L"empty").c_str(), nullptr);
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"empty"), L"Marvane.exe"), FolderState::Empty);
    ::CreateDirectoryW(scratch.Join(L"game").c_str(), nullptr);
    WriteBytes(scratch.Join(L"game\\Marvane.exe"), "x");
    WriteBytes(scratch.Join(L"game\\other.txt"), "x");
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"game"), L"Marvane.exe"), FolderState::EarlierInstall);
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"game"), L""), FolderState::Foreign);
    WriteBytes(scratch.Join(L"file"), "x");
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"file"), L"Marvane.exe"), FolderState::Foreign);

    // What an uninstallation that kept the user data file leaves, and
    // anything more than that.
    ::CreateDirectoryW(scratch.Join(L"kept").c_str(), nullptr);
    ::CreateDirectoryW(scratch.Join(L"kept\\config").c_str(), nullptr);
    WriteBytes(scratch.Join(L"kept\\config\\user.ini"), "x");
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"kept"), L"Game.exe", L"config\\user.ini"),
              FolderState::EarlierInstall);
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"kept"), L"Game.exe", L"config"), FolderState::Foreign);
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"kept"), L"Game.exe"), FolderState::Foreign);
    WriteBytes(scratch.Join(L"kept\\config\\more.ini"), "x");
    EXPECT_EQ(ClassifyInstallFolder(scratch.Join(L"kept"), L"Game.exe", L"config\\user.ini"), FolderState::Foreign);
}

TEST(InstallFolder, FindsAFileHeldOpenAnywhereInTheTree)
{
    ScratchDir scratch;
    ::CreateDirectoryW(scratch.Join(L"a").c_str(), nullptr);
    ::CreateDirectoryW(scratch.Join(L"a\\b").c_str(), nullptr);
    WriteBytes(scratch.Join(L"a\\b\\deep.dat"), "x");
    WriteBytes(scratch.Join(L"a\\readonly.txt"), "x");
    ::SetFileAttributesW(scratch.Join(L"a\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(HasFileInUse(scratch.path()));

    HANDLE held = ::CreateFileW(scratch.Join(L"a\\b\\deep.dat").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::wstring blocked;
    EXPECT_TRUE(HasFileInUse(scratch.path(), &blocked));
    EXPECT_EQ(blocked, scratch.Join(L"a\\b\\deep.dat"));
    ::CloseHandle(held);
    EXPECT_FALSE(HasFileInUse(scratch.path()));
}
