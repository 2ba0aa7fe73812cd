// setup.exe runs elevated: other programs of the same user, running while
// the wizard is open, try to steer it through its files, and another
// installer runs beside it.
#include "e2e/fixture.h"
#include "package/package.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace e2e;

namespace {

const std::wstring kOtherName = L"另一个棋牌";
const std::wstring kHostileDir = L"D:\\e2e\\work\\hostile";

// Whether another program can open path to change it (write or delete).
bool OthersCanChange(const std::wstring& path)
{
    for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
        HANDLE other = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (other != INVALID_HANDLE_VALUE) {
            ::CloseHandle(other);
            return true;
        }
    }
    return false;
}

class Steering : public WizardTest {
protected:
    void SetUp() override
    {
        for (const auto& name : {kDisplayName, kOtherName, std::wstring(L"Hostile")}) {
            ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKey(name).c_str());
            ::DeleteFileW(DesktopLink(name).c_str());
            RemoveTree(ProgramGroup(name));
        }
        ASSERT_TRUE(ClearRuns(kDefaultInstallDir));
    }
    void TearDown() override { ::DeleteFileW((TempFolder() + L"incfg.ini").c_str()); }
};

TEST_F(Steering, NothingChangedFromOutsideAfterTheReadyPageReachesTheInstallation)
{
    auto wizard = Start(Bin(L"setup.exe"), {L"MARVANE_AUTOCLOSE_MS=300"});
    HWND ready = ToReady(*wizard);
    ASSERT_NE(ready, nullptr);
    const std::vector<std::wstring> summary{L"目标位置:", L"        " + kDefaultInstallDir};
    ASSERT_EQ(ListLines(::GetDlgItem(ready, kSummary)), summary);

    // Another folder, product and program, where the wizard keeps its
    // configuration and where installers used to share it.
    const std::string hostile = WideToCodePage(L"[IN_INFO]\r\nOBJ_IN_SETUP_DIR=" + kHostileDir +
                                                   L"\r\nOBJ_IN_DISPLAY_NAME=Hostile\r\nOBJ_IN_EXE_LINK=Hostile\r\n"
                                                   L"OBJ_IN_EXE=..\\hostile.exe\r\n",
                                               936);
    const std::vector<std::wstring> folders = RunFolders();
    ASSERT_EQ(folders.size(), 1u);
    const std::wstring config = RunConfigFile();
    ASSERT_TRUE(Exists(config));
    EXPECT_FALSE(OthersCanChange(config));
    EXPECT_FALSE(WriteFileBytes(config, hostile));
    EXPECT_FALSE(::MoveFileW(folders[0].c_str(), (folders[0] + L"-moved").c_str()));
    ASSERT_TRUE(WriteFileBytes(TempFolder() + L"incfg.ini", hostile));
    // Nor can the payload be changed in the installer's own file.
    EXPECT_FALSE(OthersCanChange(Bin(L"setup.exe")));

    HWND finish = Press(*wizard, ready, kInstall, Page::kFinish, 60000);
    ASSERT_NE(finish, nullptr);
    EXPECT_EQ(ItemText(finish, IDC_FINISH_TITLE_NAME), kDisplayName);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    EXPECT_FALSE(Exists(kHostileDir));
    EXPECT_TRUE(UninstallKeyExists(kDisplayName));
    EXPECT_FALSE(UninstallKeyExists(L"Hostile"));
    EXPECT_EQ(ReadLink(DesktopLink(kDisplayName)).target, kDefaultInstallDir + L"\\Marvane.exe");
    EXPECT_FALSE(Exists(DesktopLink(L"Hostile")));
    Click(finish, kFinishButton);
    EXPECT_TRUE(wizard->WaitForExit());
    EXPECT_TRUE(WaitUntil([] { return Exists(kDefaultInstallDir + L"\\run-marker.txt"); }));
    EXPECT_EQ(RunFolders(), std::vector<std::wstring>{});
}

// While a silent installation starts, another program renames its file
// away and moves in the same installer with other payload bytes (and a
// digest of its own): at once, and once the run has passed its check. The
// run installs the product it was started as, or refuses as damaged; never
// the other payload.
TEST_F(Steering, TheRunningInstallersFileCannotBeSwappedForAnother)
{
    std::string archive = ReadResource(Bin(L"setup.exe"), L"DATA", 148);
    ASSERT_TRUE(WriteFileBytes(Work(L"payload.7z"), archive) && ::CreateDirectoryW(Work(L"product").c_str(), nullptr));
    int32_t entry = 0;
    ASSERT_TRUE(CSPPackage().Decode(Work(L"payload.7z").c_str(), Work(L"product").c_str(), &entry));
    archive[archive.size() / 2] ^= 0x5A;
    ASSERT_TRUE(CopyWithResource(Bin(L"setup.exe"), Work(L"other.exe"), L"DATA", 148, archive));
    const std::wstring setup = Work(L"setup.exe"), other = Work(L"other-copy.exe");
    for (const bool afterCheck : {false, true}) {
        SCOPED_TRACE(afterCheck ? "after the check" : "at once");
        ASSERT_TRUE(::CopyFileW(Bin(L"setup.exe").c_str(), setup.c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(Work(L"other.exe").c_str(), other.c_str(), FALSE));
        SetupProcess run(setup, {}, L"/S /D=" + kDefaultInstallDir);
        // The silent run makes its folder once its check has passed.
        ASSERT_TRUE(!afterCheck || WaitUntil([&run] { return !RunFolders().empty() || run.WaitForExit(0); }));
        bool renamed = false;
        for (int attempt = 0; attempt < 100 && !renamed && !run.WaitForExit(0); ++attempt)
            renamed = ::MoveFileExW(setup.c_str(), Work(L"away.exe").c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        EXPECT_TRUE(!renamed || ::MoveFileExW(other.c_str(), setup.c_str(), 0));
        ASSERT_TRUE(run.WaitForExit(120000));
        EXPECT_FALSE(afterCheck && renamed);
        if (run.ExitCode() == 0) {
            EXPECT_EQ(testing_support::TreeChanges(testing_support::ReadTree(Work(L"product")),
                                                   testing_support::ReadTree(kDefaultInstallDir)),
                      "");
        } else {
            EXPECT_TRUE(run.ExitCode() == 3 && renamed && !Exists(kDefaultInstallDir)) << run.ExitCode();
        }
        ::DeleteFileW(setup.c_str());
    }
}

TEST_F(Steering, TwoInstallersOfDifferentNamesKeepToTheirOwnFiles)
{
    const std::wstring otherExe = Work(L"other-product.exe");
    const std::string otherText = ConfigSetting(L"OBJ_IN_DISPLAY_NAME", kOtherName);
    ASSERT_FALSE(otherText.empty());
    ASSERT_TRUE(CopyWithResource(Bin(L"setup.exe"), otherExe, L"INI", 138, otherText));

    auto first = Start(Bin(L"setup.exe"));
    HWND ready = ToReady(*first);
    ASSERT_NE(ready, nullptr);
    auto second = Start(otherExe);
    ASSERT_NE(second->ShownPage(), nullptr);
    EXPECT_EQ(ItemText(second->ShownPage(), IDC_WELCOME_SENTENCE_NAME), kOtherName);

    // A folder each, each holding its own configuration.
    const std::vector<std::wstring> folders = RunFolders();
    ASSERT_EQ(folders.size(), 2u);
    int withOther = 0, withChosenFolder = 0;
    for (const auto& folder : folders) {
        const std::string text = ReadFileBytes(folder + L"\\incfg.ini");
        withOther += text == otherText;
        withChosenFolder +=
            text.find(WideToCodePage(L"OBJ_IN_SETUP_DIR=" + kDefaultInstallDir, 936)) != std::string::npos;
    }
    EXPECT_EQ(withOther, 1);
    EXPECT_EQ(withChosenFolder, 1);

    HWND finish = Press(*first, ready, kInstall, Page::kFinish, 60000);
    ASSERT_NE(finish, nullptr);
    EXPECT_EQ(ItemText(finish, IDC_FINISH_TITLE_NAME), kDisplayName);
    EXPECT_TRUE(UninstallKeyExists(kDisplayName));
    EXPECT_FALSE(UninstallKeyExists(kOtherName));
    ::SendMessageW(::GetDlgItem(finish, kRunNow), BM_SETCHECK, BST_UNCHECKED, 0);
    Click(finish, kFinishButton);
    EXPECT_TRUE(first->WaitForExit());

    // The second's files are untouched by the first's end.
    ASSERT_EQ(RunFolders().size(), 1u);
    EXPECT_EQ(ReadFileBytes(RunConfigFile()), otherText);
    Click(second->ShownPage(), kCancel);
    EXPECT_TRUE(second->WaitForExit());
    EXPECT_EQ(RunFolders(), std::vector<std::wstring>{});
}

}  // namespace
