// The configuration: the sample text the installer carries and the value
// read from it.
#include "config/config.h"
#include "support/test_support.h"

#include <vector>

using namespace testing_support;

namespace {

TEST(ConfigTest, SampleTextIsGbkWithCrLfAndTheKeysInOrder)
{
    Configuration resource;
    ASSERT_TRUE(Configuration::FromResource(nullptr, &resource));
    // Nothing set: the resource's bytes exactly.
    const std::string bytes = resource.Bytes();
    ASSERT_TRUE(bytes.starts_with("/////"));  // no byte-order mark either
    EXPECT_FALSE(bytes.ends_with("\n"));
    for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
        ASSERT_EQ('\r', bytes[at - 1]) << "bare line feed at " << at;
    std::vector<std::wstring> lines;
    const std::wstring text = FromCodePage(bytes, 936) + L"\r\n";
    for (size_t start = 0, end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        std::wstring line = text.substr(start, end - start);
        // The comment column's padding is free.
        if (const size_t gap = line.find(L"  "); gap != std::wstring::npos)
            line.erase(gap, line.find_first_not_of(L' ', gap) - gap - 1);
        if (!line.starts_with(L"/////"))
            lines.push_back(line);
    }
    // Between the "/////" rules: the title and each key with its meaning.
    const std::vector<std::wstring> expected = {
        L"配置文件说明", L"OBJ_IN_CAPTION 窗口标题", L"OBJ_IN_PUBLISHER 发布者",
        L"OBJ_IN_DISPLAY_NAME 安装程序显示名字", L"OBJ_IN_DISPLAY_VERSION 显示版本",
        L"OBJ_IN_SIZE 被安装程序所需磁盘空间大小", L"OBJ_IN_EXE 主程序", L"OBJ_IN_EXE_LINK 主程序快捷方式名",
        L"OBJ_IN_UNINSTALL_EXE 所指向的卸载程序", L"OBJ_IN_REPAIR_EXE_CMD UPDATE 运行时的命令行参数",
        L"OBJ_IN_REPAIR_EXE 修复程序", L"OBJ_IN_REPAIR_EXE_LINK 修复程序快捷方式名称",
        L"OBJ_IN_USERDATA_FILE 旧版本保留文件名", L"OBJ_IN_SETUP_DIR 安装目录", L"[IN_INFO]",
        L"OBJ_IN_CAPTION=Quenlo棋牌 安装", L"OBJ_IN_PUBLISHER=晴川互动工作室", L"OBJ_IN_DISPLAY_NAME=Quenlo棋牌",
        L"OBJ_IN_FOLDER=Tovani", L"OBJ_IN_DISPLAY_VERSION=1.1.1.1", L"OBJ_IN_SIZE=210",
        L"OBJ_IN_EXE=Marvane.exe", L"OBJ_IN_EXE_LINK=Quenlo棋牌", L"OBJ_IN_UNINSTALL_EXE=uninst.exe",
        L"OBJ_IN_REPAIR_EXE_CMD=-tp:1", L"OBJ_IN_REPAIR_EXE=Marvane.exe", L"OBJ_IN_REPAIR_EXE_LINK=强力修复",
        L"OBJ_IN_USERDATA_FILE=UserSetting.ini",
    };
    EXPECT_EQ(expected, lines);

    const Configuration sample(bytes);
    EXPECT_EQ(L"Quenlo棋牌 安装", sample.Setting(kKeyCaption));
    EXPECT_EQ(L"", sample.Setting(kKeySetupDir));
    EXPECT_EQ(L"", sample.Setting(kKeyCompleteUrl));
}

TEST(ConfigTest, ReadersCutLongValuesAndFallBackToTheirDefaults)
{
    const std::wstring longValue(300, L'长');
    Configuration set;
    set.Set(kConfigSection, kKeyCaption, longValue);
    EXPECT_EQ(longValue.substr(0, 259), set.Setting(kKeyCaption));
    EXPECT_EQ(L"Marvane", set.Setting(kKeyFolder, kDefaultFolderName));
    EXPECT_EQ(0, set.SettingInt(kKeySize, 0));
    set.Set(kConfigSection, kKeySize, L"350MB");
    EXPECT_EQ(350, set.SettingInt(kKeySize, 0));

    // Found as the profile functions find them.
    const Configuration read("; note\r\n[other]\r\nOBJ_IN_EXE=wrong.exe\r\n [ in_info ] \r\n obj_in_exe =  'a b.exe' \r\n"
                             "OBJ_IN_EXE=second.exe\r\nOBJ_IN_SIZE= 0x20\r\nOBJ_IN_FOLDER=\r\nOBJ_IN_PUBLISHER\r\n"
                             "[IN_INFO]\r\nOBJ_IN_DISPLAY_NAME=later section\r\n");
    EXPECT_EQ(L"a b.exe", read.Setting(kKeyExe));
    EXPECT_EQ(32, read.SettingInt(kKeySize, 0));
    EXPECT_EQ(L"", read.Setting(kKeyFolder, kDefaultFolderName));
    EXPECT_EQ(L"", read.Setting(kKeyPublisher, L"x"));
    EXPECT_EQ(7, read.SettingInt(kKeyFolder, 7));
    EXPECT_EQ(L"none", read.Setting(kKeyDisplayName, L"none  "));
    EXPECT_EQ(L"none", Configuration().Setting(kKeyExe, L"none"));
}

}  // namespace
