// The uninstall entry in the prefix's real Uninstall key, from a
// configuration of the test's own and a display name of the test's own.
#include "config/config.h"
#include "config/uninstall_entry.h"
#include "system/trace.h"
#include "system/uninstall.h"
#include "support/test_support.h"

#include <map>
#include <vector>

using namespace testing_support;

namespace {

// Each value as its type, its stored size and its text; none when the key
// is absent.
std::map<std::wstring, std::wstring> ReadValues(const std::wstring& path)
{
    std::map<std::wstring, std::wstring> values;
    UniqueKey key;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put());
    wchar_t name[256], data[1024];
    for (DWORD i = 0, nameLength = 256, type = 0, bytes = sizeof(data);
         key && ::RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                &bytes) == ERROR_SUCCESS;
         ++i, nameLength = 256, bytes = sizeof(data))
        values[name] = std::to_wstring(type) + L" " + std::to_wstring(bytes) + L" " + data;
    return values;
}

// A REG_SZ value as ReadValues shows it: the size counts the terminator.
std::wstring Sz(const std::wstring& text) { return L"1 " + std::to_wstring((text.size() + 1) * 2) + L" " + text; }

class UninstallEntryTest : public ::testing::Test {
protected:
    UninstallEntryTest()
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, entry);
        Name(name);
        SetInstallTraceSink([](void* c, const wchar_t* line) { static_cast<Lines*>(c)->push_back(line); }, &trace);
    }
    ~UninstallEntryTest() override
    {
        SetInstallTraceSink(nullptr, nullptr);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, entry);
    }

    void Name(const std::wstring& displayName) { configuration.Set(kConfigSection, kKeyDisplayName, displayName); }
    bool Register() { return RegisterUninstall(configuration, installDir); }

    using Lines = std::vector<std::wstring>;
    Configuration configuration{
        "[IN_INFO]\r\nOBJ_IN_DISPLAY_VERSION=1.1.1.1\r\nOBJ_IN_EXE=Marvane.exe\r\nOBJ_IN_UNINSTALL_EXE=uninst.exe\r\n"};
    std::wstring installDir = L"C:\\Program Files\\Quenlo 棋牌";
    std::wstring name = L"服务测试 " + Utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::wstring entry = std::wstring(kUninstallKey) + L"\\" + name;
    Lines trace;
};

TEST_F(UninstallEntryTest, EntryHoldsExactlyTheFiveValuesAndReplacesAnOldOne)
{
    // An earlier installation's entry, with a value and subkeys of its own.
    for (const std::wstring& key : {entry, entry + L"\\old\\deeper"}) {
        UniqueKey old;
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, old.put(),
                          nullptr);
        ::RegSetValueExW(old.get(), L"EstimatedSize", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"9"), 4);
    }
    // No publisher: the empty text, two bytes with its terminator.
    ASSERT_TRUE(Register());
    const std::map<std::wstring, std::wstring> expected = {
        {L"Publisher", L"1 2 "},
        {L"DisplayName", Sz(name)},
        {L"DisplayVersion", Sz(L"1.1.1.1")},
        {L"DisplayIcon", Sz(L"C:\\Program Files\\Quenlo 棋牌\\Marvane.exe,-0")},
        {L"UninstallString", Sz(L"\"C:\\Program Files\\Quenlo 棋牌\\uninst.exe\"")},
    };
    EXPECT_EQ(expected, ReadValues(entry));
    EXPECT_TRUE(ReadValues(entry + L"\\old\\deeper").empty());
    EXPECT_EQ((Lines{L"创建注册表子项\r\n", L"创建注册表子项成功!\r\n", L"写注册表 Publisher\r\n",
                     L"写注册表 DisplayName\r\n", L"写注册表 DisplayVersion\r\n", L"写注册表 DisplayIcon\r\n",
                     L"写注册表 UninstallString\r\n"}),
              trace);
}

TEST_F(UninstallEntryTest, DisplayNamesThatReachOtherEntriesAreRefused)
{
    // An empty name would make the entry the Uninstall key itself, and
    // writing it afresh would unregister every installed program.
    ASSERT_TRUE(Register());
    for (const std::wstring& bad : {std::wstring(), L"..\\" + name, name + L"\\"}) {
        Name(bad);
        EXPECT_FALSE(Register());
    }
    EXPECT_EQ(5u, ReadValues(entry).size());
    EXPECT_EQ(7u, trace.size());  // the first registration's alone
}

TEST_F(UninstallEntryTest, NoInstallationFolderRegistersNothing)
{
    installDir.clear();
    EXPECT_FALSE(Register());
    EXPECT_TRUE(ReadValues(entry).empty());
    EXPECT_TRUE(trace.empty());
}

}  // namespace
