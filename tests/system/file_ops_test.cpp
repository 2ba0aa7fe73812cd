// The file services against scratch folders.
#include "system/file_ops.h"
#include "system/unique_handle.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

TEST(FileOpsTest, WriteResourceToFileCopiesTheRawBytesOrCreatesNothing)
{
    ScratchDir scratch;
    const std::wstring out = scratch.Join(L"res.bin");
    WriteBytes(out, std::string(100, 'z'));
    ASSERT_EQ(1, WriteResourceToFile(nullptr, out.c_str(), 200, L"DATA"));
    EXPECT_EQ(std::string("ab\r\n\377cd"), ReadBytes(out));

    EXPECT_EQ(0, WriteResourceToFile(nullptr, scratch.Join(L"missing").c_str(), 201, L"DATA"));
    EXPECT_FALSE(Exists(scratch.Join(L"missing")));
    // Held without sharing, the file cannot be created afresh. (A read-only
    // file would do on Windows; the tests run as root, which Wine lets write.)
    UniqueFile holder(::CreateFileW(out.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(0, WriteResourceToFile(nullptr, out.c_str(), 200, L"DATA"));
}

TEST(FileOpsTest, PathExistsRefusesPathsOf260CharactersOrMore)
{
    ScratchDir scratch;
    const size_t room = MAX_PATH - scratch.path().size() - 2;
    const std::wstring fits = scratch.Join(std::wstring(room, L'f'));
    const std::wstring tooLong = scratch.Join(std::wstring(room + 1, L'g'));
    WriteBytes(fits, "x");
    WriteBytes(L"\\\\?\\" + tooLong, "x");
    EXPECT_EQ(1, PathExists(fits.c_str()));
    EXPECT_EQ(0, PathExists(tooLong.c_str()));
    EXPECT_EQ(1, FileExists((L"\\\\?\\" + tooLong).c_str()));
    // Too long for the shell to delete: a failure, not "nothing there".
    EXPECT_EQ(0, DeletePath(tooLong.c_str()));
    EXPECT_EQ(1, FileExists((L"\\\\?\\" + tooLong).c_str()));
}

TEST(FileOpsTest, ShellOperationsMoveWholeTrees)
{
    ScratchDir scratch;
    ASSERT_EQ(1, CreateFolderTree(scratch.Join(L"old\\b\\c").c_str()));
    WriteBytes(scratch.Join(L"old\\b\\c\\f.txt"), "data");
    ASSERT_EQ(1, CopyPath(scratch.Join(L"copy").c_str(), scratch.Join(L"old").c_str()));
    ASSERT_EQ(1, RenamePath(scratch.Join(L"new").c_str(), scratch.Join(L"old").c_str()));
    EXPECT_EQ("data", ReadBytes(scratch.Join(L"new\\b\\c\\f.txt")));
    EXPECT_EQ("data", ReadBytes(scratch.Join(L"copy\\b\\c\\f.txt")));
    ASSERT_EQ(1, DeletePath(scratch.Join(L"new").c_str()));
    EXPECT_FALSE(Exists(scratch.Join(L"new")));

    // Nothing there: done for a delete, a failure for a rename or copy.
    EXPECT_EQ(1, DeletePath(scratch.Join(L"new").c_str()));
    EXPECT_EQ(0, RenamePath(scratch.Join(L"x").c_str(), scratch.Join(L"new").c_str()));
    EXPECT_EQ(0, CopyPath(scratch.Join(L"x").c_str(), scratch.Join(L"new").c_str()));
    EXPECT_EQ(0, DeletePath(nullptr));
}

TEST(FileOpsTest, WildcardsAreRefusedAndNothingIsTouched)
{
    // The shell would apply the operation to every match.
    ScratchDir scratch;
    WriteBytes(scratch.Join(L"a.txt"), "a");
    WriteBytes(scratch.Join(L"b.txt"), "b");
    const std::wstring a = scratch.Join(L"a.txt"), all = scratch.Join(L"*.txt");
    EXPECT_EQ(1, FileExists(all.c_str()));
    EXPECT_EQ(0, DeletePath(all.c_str()));
    EXPECT_EQ(0, DeletePath(scratch.Join(L"?.txt").c_str()));
    EXPECT_EQ(0, CopyPath(scratch.Join(L"out").c_str(), all.c_str()));
    EXPECT_EQ(0, CopyPath(scratch.Join(L"o?t").c_str(), a.c_str()));
    EXPECT_EQ(0, RenamePath(scratch.Join(L"*.bak").c_str(), a.c_str()));
    EXPECT_EQ(2u, ReadTree(scratch.path()).size());
}

TEST(FileOpsTest, CreateFolderTreeCountsAFileOfThatNameAsThere)
{
    ScratchDir scratch;
    const std::wstring file = scratch.Join(L"plain");
    WriteBytes(file, "x");
    EXPECT_EQ(1, CreateFolderTree(file.c_str()));
    EXPECT_EQ(0, IsDirectory(file.c_str()));
    EXPECT_EQ(1, IsDirectory(scratch.path().c_str()));
    EXPECT_EQ(0, CreateFolderTree(nullptr));
}

}  // namespace
