// setup.exe's command line as the silent installation reads it.
#include "app/setup_arguments.h"

#include <gtest/gtest.h>

namespace {

TEST(SetupArguments, ReadsSilentTheLogAndAFolderWithBlanksLastAsTypedOrQuoted)
{
    struct Case {
        const wchar_t* commandLine;
        bool silent, hasFolder, unknown;
        const wchar_t* folder;
        const wchar_t* log = nullptr;  // null: no log asked for; "": the default place
    };
    const Case cases[] = {
        {L"setup.exe", false, false, false, L""},
        {L"\"C:\\Down loads\\setup.exe\" /S", true, false, false, L""},
        {L"setup.exe /s", true, false, false, L""},
        {L"setup.exe /S /D=D:\\My Games\\Star  ", true, true, false, L"D:\\My Games\\Star"},
        {L"setup.exe /S \"/D=D:\\My Games\\Star\"", true, true, false, L"D:\\My Games\\Star"},
        {L"setup.exe /S /D=\"D:\\My Games\"", true, true, false, L"D:\\My Games"},
        // Everything after /D= is the folder, however it looks.
        {L"setup.exe /D=D:\\Games /S", false, true, false, L"D:\\Games /S"},
        {L"setup.exe\t/S\t/X", true, false, true, L""},
        {L"setup.exe /Silent", false, false, true, L""},
        {L"setup.exe /S /LOG /D=D:\\Games", true, true, false, L"D:\\Games", L""},
        {L"setup.exe /log=D:\\install.log /S", true, false, false, L"", L"D:\\install.log"},
        {L"setup.exe \"/LOG=D:\\my logs\\a.log\" /S", true, false, false, L"", L"D:\\my logs\\a.log"},
        {L"setup.exe /LOG=\"D:\\my logs\\a.log\" /S", true, false, false, L"", L"D:\\my logs\\a.log"},
        {L"setup.exe /LOGFILE=x /S", true, false, true, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.commandLine)));
        const SetupArguments arguments = ParseSetupArguments(c.commandLine);
        EXPECT_EQ(arguments.silent, c.silent);
        EXPECT_EQ(arguments.hasFolder, c.hasFolder);
        EXPECT_EQ(arguments.unknown, c.unknown);
        EXPECT_EQ(arguments.folder, c.folder);
        EXPECT_EQ(arguments.log, c.log != nullptr);
        EXPECT_EQ(arguments.logFile, c.log ? c.log : L"");
    }
}

}  // namespace
