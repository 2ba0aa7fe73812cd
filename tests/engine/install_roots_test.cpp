// Whole installations, with the real worker and services, into folders the
// installer must never take: the root of a drive that is not the system's,
// and a folder above a system folder. Each is refused at the first step, with
// no question and nothing touched, although both hold the product's main
// program, as an earlier installation would.
//
// install_roots.sh runs this in a prefix of its own whose drive D: is a
// scratch folder, so the drive can be compared whole before and after.
#include "engine/install_engine.h"
#include "recording_host.h"

#include "config/config.h"
#include "config/run_copy.h"
#include "support/test_support.h"
#include "system/file_ops.h"
#include "system/shortcuts.h"
#include "system/trace.h"
#include "system/uninstall.h"

#include <shlobj.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

void RecordTrace(void* context, const wchar_t* line)
{
    static_cast<std::vector<std::wstring>*>(context)->push_back(line);
}

void RemoveWhatAnInstallationLeaves()
{
    ::DeleteFileW(DesktopShortcutPath(L"引擎测试棋牌").c_str());
    RemoveTree(ProgramGroupFolder(nullptr, L"引擎测试棋牌"));
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKeyPath(L"引擎测试棋牌").c_str());
}

class InstallRoots : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Configuration::FromResource(nullptr, &configuration));
        ASSERT_EQ(WriteConfigFile(configuration), 1);
        SetInstallTraceSink(RecordTrace, &trace);
    }
    void TearDown() override
    {
        SetInstallTraceSink(nullptr, nullptr);
        RemoveWhatAnInstallationLeaves();
        DeleteConfigFile();
    }

    // One whole run of the worker into folder; true when it succeeded.
    bool Install(const std::wstring& folder)
    {
        EXPECT_TRUE(WriteSetting(kKeySetupDir, folder));
        page.rollbacks = 0;
        page.boxes.clear();
        trace.clear();
        InstallEngine engine(configuration);
        EXPECT_TRUE(engine.Attach(&page));
        EXPECT_TRUE(page.RunWorker(engine, folder));
        bool succeeded = false;
        return engine.WorkerEnded(&succeeded) && succeeded;
    }

    Configuration configuration;
    RecordingHost page;
    std::vector<std::wstring> trace;
};

TEST_F(InstallRoots, ADriveRootAndAFolderAboveASystemFolderAreRefusedAtTheFirstStep)
{
    // The route works in this prefix: a folder of its own on D: installs,
    // one level down and right below the root.
    for (const std::wstring& folder : {std::wstring(L"D:\\Games\\Tovani"), std::wstring(L"D:\\Tovani")}) {
        ASSERT_TRUE(Install(folder)) << WideToUtf8(folder);
        ASSERT_TRUE(Exists(folder + L"\\Marvane.exe"));
        RemoveTree(folder);
        RemoveTree(L"D:\\Games");
        RemoveWhatAnInstallationLeaves();
    }

    wchar_t profile[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)));
    const std::wstring users = std::wstring(profile).substr(0, std::wstring(profile).rfind(L'\\'));
    // Both hold the main program and a file of someone's beside it.
    for (const std::wstring& folder : {std::wstring(L"D:"), users}) {
        WriteBytes(folder + L"\\Marvane.exe", "someone's game at the top\r\n");
        ::CreateDirectoryW((folder + L"\\keep").c_str(), nullptr);
        WriteBytes(folder + L"\\keep\\notes.txt", "someone's notes\r\n");
    }

    for (const std::wstring& folder : {std::wstring(L"D:\\"), std::wstring(L"D:"), std::wstring(L"d:/Games/.."),
                                       users, users + L"\\"}) {
        SCOPED_TRACE(WideToUtf8(folder));
        const auto drive = ReadTree(L"D:");
        const auto usersTop = Listing(users);
        const auto profileTop = Listing(profile);

        EXPECT_FALSE(Install(folder));
        EXPECT_EQ(page.rollbacks, 1);
        EXPECT_TRUE(trace.empty());
        // One box says why; nothing else is asked or shown.
        EXPECT_EQ(page.boxes, std::vector<std::wstring>{FailureText(InstallFailure::kCannotWrite, folder)});
        EXPECT_EQ(TreeChanges(drive, ReadTree(L"D:")), "");
        EXPECT_EQ(Listing(users), usersTop);
        EXPECT_EQ(Listing(profile), profileTop);
        EXPECT_FALSE(Exists(users + L".temp"));
        EXPECT_FALSE(Exists(users + L".old"));
    }
    for (const std::wstring& folder : {std::wstring(L"D:"), users}) {
        RemoveTree(folder + L"\\Marvane.exe");
        RemoveTree(folder + L"\\keep");
    }
}

}  // namespace
