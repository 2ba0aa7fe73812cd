// The check that keeps every entry inside the folder it is unpacked into.
#include "package/package.h"

#include <gtest/gtest.h>

TEST(EntryName, OrdinaryNamesPass)
{
    for (const wchar_t* name : {L"a", L"a/b/c.txt", L"棋牌/规则.txt", L"..data", L"a..b", L"cone/x", L"console.txt",
                                L"COM10", L"lpt", L".hidden", L"name with spaces.txt"})
        EXPECT_TRUE(IsSafeEntryName(name)) << testing::PrintToString(std::wstring(name));
}

TEST(EntryName, NamesThatLeaveTheFolderOrNameDevicesFail)
{
    for (const wchar_t* name :
         {L"", L"../x", L"a/../../x", L"a\\..\\x", L"..", L"a/..", L"a/.. /x", L"a/... /x", L"./x", L"C:x",
          L"C:/Windows/x.dll", L"a:stream", L"/abs", L"\\abs", L"\\\\server\\share\\x", L"a//b", L"a/",
          L"CON", L"con", L"a/NUL.txt", L"COM1", L"lpt9.log", L"AUX ", L"PRN.x.y", L"CONOUT$", L"a\x01b",
          L"a|b", L"a?b", L"a*b", L"a<b", L"a\"b"})
        EXPECT_FALSE(IsSafeEntryName(name)) << testing::PrintToString(std::wstring(name));
    EXPECT_FALSE(IsSafeEntryName(nullptr));
}
