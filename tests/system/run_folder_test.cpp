// The run's temporary folder, in a temporary directory of the test's own.
#include "support/test_support.h"
#include "system/run_folder.h"

using namespace testing_support;

namespace {

// Made new beside a folder of its name that someone else made, held
// against renaming, and gone at the end; none where the temporary directory
// leaves no room for the run's files.
TEST(RunFolderTest, IsTheRunsOwnUntilItGoes)
{
    const ScratchDir scratch;
    {
        TempRedirect tooLong(scratch.Join(std::wstring(300, L't')));
        EXPECT_EQ(L"", RunFolder());
    }
    TempRedirect redirect(scratch.path());
    const std::wstring stem = scratch.Join(L"setup-run-" + std::to_wstring(::GetCurrentProcessId()));
    ASSERT_TRUE(::CreateDirectoryW((stem + L"-0").c_str(), nullptr));
    WriteBytes(stem + L"-0\\incfg.ini", "someone else's");
    const std::wstring folder = RunFolder();
    ASSERT_EQ(stem + L"-1", folder);
    EXPECT_EQ(folder, RunFolder());
    EXPECT_FALSE(::MoveFileW(folder.c_str(), (folder + L"-moved").c_str()));

    RemoveRunFolder();
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ("someone else's", ReadBytes(stem + L"-0\\incfg.ini"));
    // The next run's folder is made new.
    EXPECT_EQ(stem + L"-1", RunFolder());
    RemoveRunFolder();
}

}  // namespace
