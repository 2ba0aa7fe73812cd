// The uninstaller's removal without its questions and boxes: installations
// laid out for real (files, desktop links saved by the system's link writer,
// a program group, an entry in HKLM's Uninstall key), what the plan says of
// each, and what carrying it out leaves.
#include "uninstall/removal_plan.h"

#include "system/install_record.h"
#include "system/shortcuts.h"
#include "system/uninstall.h"
#include "support/test_support.h"

#include <shlobj.h>

using namespace testing_support;

// The outcome as the exit code it stands for, in failure messages.
void PrintTo(RemovalOutcome outcome, std::ostream* out) { *out << static_cast<int>(outcome); }

namespace {

// One installation laid out as a row says: where the configuration puts the
// uninstaller; whether there is a configuration, an entry naming the
// uninstaller, the main program, the program group and a record of what
// the installation put in its folder; whether the user data file is kept;
// whether it is the fixture's folder, whose data\outside is a link out of
// it; whether its desktop link is held open so that it cannot go; the
// outcome; what the folder holds afterwards. Every folder also holds a saved
// game of the player's.
struct Installation {
    const wchar_t* name;
    const wchar_t* uninstaller;
    bool configured, registered, mainProgram, group, recorded, keepUserData, planted;
    bool heldLink;
    RemovalOutcome outcome;
    std::vector<std::wstring> left;
};

void Put(const std::wstring& path, const std::string& bytes)
{
    ::SHCreateDirectoryExW(nullptr, path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
    WriteBytes(path, bytes);
}

std::vector<std::wstring> Paths(const std::wstring& folder)
{
    std::vector<std::wstring> paths;
    if (Exists(folder))
        for (const auto& [path, bytes] : ReadTree(folder))
            paths.push_back(path);
    return paths;
}

bool KeyExists(const std::wstring& keyName)
{
    UniqueKey key;
    return !::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyPath(keyName).c_str(), 0, KEY_READ, key.put());
}

TEST(RemovalPlan, TakesWhatTheInstallationLeftAndNothingElse)
{
    using enum RemovalOutcome;
    const Installation installations[] = {
        {L"kept", L"uninst.exe", true, true, true, true, true, true, false, false, Removed,
         {L"UserSetting.ini", L"saves", L"saves\\slot1.sav"}},
        {L"not kept, no group", L"tools\\卸载.exe", true, true, true, false, true, false, false, false, Removed,
         {L"saves", L"saves\\slot1.sav"}},
        // Made by an older installer: which files are the product's is not
        // known, so none goes.
        {L"unrecorded", L"uninst.exe", true, true, true, true, false, false, false, false, Removed,
         {L"Marvane.exe", L"UserSetting.ini", L"data", L"data\\牌桌", L"data\\牌桌\\规则.txt", L"saves",
          L"saves\\slot1.sav", L"uninst.exe"}},
        // What cannot go is told, and everything else still goes.
        {L"held link", L"uninst.exe", true, true, true, true, true, true, false, true, SomethingLeft,
         {L"UserSetting.ini", L"saves", L"saves\\slot1.sav"}},
        {L"unregistered", L"uninst.exe", true, false, true, true, true, true, false, false, FolderRefused, {}},
        {L"foreign", L"uninst.exe", true, true, false, true, true, true, false, false, FolderRefused, {}},
        {L"unconfigured", L"uninst.exe", false, true, true, true, true, true, false, false, NoConfiguration, {}},
        // A link the player made is the player's: it stays, and nothing is
        // removed through it.
        {L"planted", L"uninst.exe", true, true, true, true, true, false, true, false, Removed,
         {L"data", L"data\\outside", L"data\\outside\\file.txt", L"saves", L"saves\\slot1.sav"}},
    };
    const ScratchDir scratch;
    const std::wstring elsewhere = scratch.Join(L"elsewhere.exe");
    WriteBytes(elsewhere, "MZ elsewhere");
    const std::wstring outside = FixturePath(L"uninstall\\outside\\file.txt");
    Original noOriginal(nullptr, nullptr);
    for (const Installation& install : installations) {
        SCOPED_TRACE(WideToUtf8(install.name));
        const std::wstring name = std::wstring(L"卸载计划测试 ") + install.name;
        const std::wstring outName = name + L" 外";
        const std::wstring folder = install.planted ? FixturePath(L"uninstall\\planted") : scratch.Join(install.name);
        const std::wstring uninstaller = folder + L"\\" + install.uninstaller;
        Put(uninstaller, "MZ uninst");
        Put(folder + L"\\UserSetting.ini", "[user]\r\n");
        Put(folder + L"\\data\\牌桌\\规则.txt", "rules\r\n");
        if (install.mainProgram)
            Put(folder + L"\\Marvane.exe", "MZ main");
        Put(folder + L"\\saves\\slot1.sav", "the player's\r\n");
        const std::wstring record = InstallRecordPath(name);
        DeleteInstallRecord(record);
        // Made where another user's desktop would be: only the record tells.
        const std::wstring recordedLink = scratch.Join(name + L".lnk");
        ASSERT_EQ(CreateShortcut(uninstaller.c_str(), recordedLink.c_str(), nullptr), 1);
        if (install.recorded) {
            InstallRecord made;
            made.installDir = folder;
            made.desktopLink = recordedLink;
            for (const wchar_t* file : {install.uninstaller, L"UserSetting.ini", L"data\\牌桌\\规则.txt", L"Marvane.exe"})
                made.files.push_back({file, 0, {}});
            made.folders = {L"data", L"data\\牌桌", L"tools"};
            ASSERT_TRUE(WriteInstallRecord(record, made));
        }
        ASSERT_TRUE(CreateDesktopShortcut(uninstaller.c_str(), name.c_str(), nullptr));
        ASSERT_TRUE(CreateDesktopShortcut(elsewhere.c_str(), outName.c_str(), nullptr));
        // A player who keeps the user data also put a note and a link of
        // their own into the group: both stay, and the group with them.
        const std::wstring group = ProgramGroupFolder(nullptr, name.c_str());
        const bool playersGroup = install.group && install.keepUserData;
        if (install.group) {
            ASSERT_TRUE(CreateProgramGroup(nullptr, name.c_str()));
            ASSERT_TRUE(CreateGroupShortcut(nullptr, uninstaller.c_str(), name.c_str(), name.c_str(), nullptr));
        }
        if (playersGroup) {
            WriteBytes(group + L"\\notes.txt", "mine");
            ASSERT_TRUE(CreateGroupShortcut(nullptr, elsewhere.c_str(), name.c_str(), L"mine", nullptr));
        }
        DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKeyPath(name));
        if (install.registered) {
            RegKey key;
            ASSERT_TRUE(key.RecreateKey(HKEY_LOCAL_MACHINE, UninstallKeyPath(name)));
            ASSERT_TRUE(key.SetString(L"UninstallString", (L"\"" + uninstaller + L"\"").c_str()));
        }
        const std::vector<std::wstring> before = Paths(folder);
        const ProductSettings product{L"", install.uninstaller, install.configured ? L"Marvane.exe" : L"",
                                      L"UserSetting.ini"};

        UniqueFile heldLink;
        if (install.heldLink)
            heldLink.reset(::CreateFileW(DesktopShortcutPath(name.c_str()).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
        RemovalPlan plan;
        RemovalOutcome refusal = Removed;
        const bool planned = PlanRemoval(product, uninstaller, install.keepUserData, &plan, &refusal);
        if (planned) {
            EXPECT_EQ(plan.installFolder, folder);
            EXPECT_EQ(plan.keep, install.keepUserData ? folder + L"\\UserSetting.ini" : L"");
            std::vector<std::wstring> links{DesktopShortcutPath(name.c_str())};
            if (install.recorded)
                links.push_back(recordedLink);
            EXPECT_EQ(plan.desktopShortcuts, links);
            ASSERT_EQ(plan.registrations.size(), 1u);
            EXPECT_EQ(plan.registrations[0].keyName, name);
            EXPECT_EQ(CarryOut(plan, &noOriginal), install.outcome);
            EXPECT_EQ(Paths(folder), install.left);
        } else {
            EXPECT_EQ(refusal, install.outcome);
            EXPECT_EQ(Paths(folder), before);
        }
        heldLink.reset();
        EXPECT_EQ(Exists(recordedLink), !planned || !install.recorded);
        ::DeleteFileW(recordedLink.c_str());
        EXPECT_EQ(Exists(DesktopShortcutPath(name.c_str())), !planned || install.heldLink);
        EXPECT_EQ(Exists(group), install.group && (!planned || playersGroup));
        if (planned && playersGroup) {
            EXPECT_EQ(Paths(group), (std::vector<std::wstring>{L"mine.lnk", L"notes.txt"}));
        }
        EXPECT_EQ(KeyExists(name), install.registered && !planned);
        EXPECT_TRUE(Exists(DesktopShortcutPath(outName.c_str())));
        EXPECT_EQ(ReadBytes(outside), "outside\r\n");

        // What a removal leaves is recorded as the player's; a refused one
        // leaves the record as it was.
        InstallRecord left;
        EXPECT_EQ(ReadInstallRecord(record, folder, &left), install.recorded);
        EXPECT_EQ(left.files.empty(), planned || !install.recorded);
        DeleteInstallRecord(record);
        ::DeleteFileW(DesktopShortcutPath(name.c_str()).c_str());
        ::DeleteFileW(DesktopShortcutPath(outName.c_str()).c_str());
        RemoveTree(ProgramGroupFolder(nullptr, name.c_str()));
        DeleteKeyTree(HKEY_LOCAL_MACHINE, UninstallKeyPath(name));
    }
}

}  // namespace
