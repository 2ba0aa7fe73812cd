// The run's copy of the configuration, in a temporary folder of the test's own.
#include "config/run_copy.h"
#include "support/test_support.h"
#include "system/run_folder.h"

using namespace testing_support;

namespace {

TEST(RunCopyTest, NoOtherProgramCanWriteTheRunsCopy)
{
    const ScratchDir scratch;
    Configuration sample;
    ASSERT_TRUE(Configuration::FromResource(nullptr, &sample));
    {
        // No folder, no file: an empty file name would send the writes to win.ini.
        TempRedirect tooLong(scratch.Join(std::wstring(300, L't')));
        EXPECT_EQ(L"", ConfigFilePath());
        EXPECT_EQ(0, WriteConfigFile(sample));
        EXPECT_FALSE(WriteSetting(kKeySetupDir, L"C:\\x"));
        wchar_t value[MAX_PATH] = {};
        ::GetPrivateProfileStringW(kConfigSection, kKeySetupDir, L"", value, MAX_PATH, L"win.ini");
        EXPECT_STREQ(L"", value);
    }
    // Thai does not pass through code page 936: an ANSI round trip of this
    // path would name a folder that does not exist.
    const std::wstring temp = scratch.Join(L"用户 ทดสอบ");
    BOOL lost = FALSE;
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, temp.c_str(), -1, nullptr, 0, nullptr, &lost);
    ASSERT_TRUE(lost);
    ::CreateDirectoryW(temp.c_str(), nullptr);
    TempRedirect redirect(temp);
    ASSERT_EQ(RunFolder() + L"\\incfg.ini", ConfigFilePath());
    ASSERT_EQ(1, WriteConfigFile(sample));
    EXPECT_EQ(sample.Bytes(), ReadBytes(ConfigFilePath()));
    HANDLE other = ::CreateFileW(ConfigFilePath().c_str(), GENERIC_WRITE | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, other);
    if (other != INVALID_HANDLE_VALUE)
        ::CloseHandle(other);

    // The chosen folder goes into the file too, exactly, whatever its script.
    const std::wstring chosen = L"D:\\게임\\Łódź ภาษา 游戏";
    ASSERT_TRUE(WriteSetting(kKeySetupDir, chosen));
    wchar_t written[MAX_PATH] = {};
    ::GetPrivateProfileStringW(kConfigSection, kKeySetupDir, L"", written, MAX_PATH, ConfigFilePath().c_str());
    EXPECT_EQ(chosen, written);
    ::GetPrivateProfileStringW(kConfigSection, kKeyDisplayName, L"", written, MAX_PATH, ConfigFilePath().c_str());
    EXPECT_STREQ(L"Quenlo棋牌", written);

    DeleteConfigFile();
    EXPECT_FALSE(Exists(ConfigFilePath()));
    RemoveRunFolder();
}

}  // namespace
