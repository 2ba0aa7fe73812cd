// The file services against scratch folders.
#include "system/file_ops.h"
#include "system/unique_handle.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// The payload's two sources: the module's own file where the loader mapped
// the resource from, else a copy that lives only as long as its handle.
// Neither can be written by anyone else while held.
TEST(FileOpsTest, ResourceWindowsReadTheResourceAndRefuseWriters)
{
    ScratchDir scratch;
    auto canWrite = [](const std::wstring& path) {
        UniqueFile other(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(other);
    };
    auto bytes = [](const ResourceWindow& window) {
        std::string read(static_cast<size_t>(window.size), '\0');
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(window.offset);
        DWORD got = 0;
        ::ReadFile(window.file.get(), read.data(), static_cast<DWORD>(read.size()), &got, &at);
        return read.substr(0, got);
    };
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    {
        ResourceWindow window;
        ASSERT_TRUE(OpenResourceWindow(nullptr, 200, L"DATA", &window));
        EXPECT_EQ(std::string("ab\r\n\377cd"), bytes(window));
        EXPECT_FALSE(canWrite(self));
        ResourceWindow missing;
        EXPECT_FALSE(OpenResourceWindow(nullptr, 201, L"DATA", &missing));
    }
    {
        // Compared whole: a byte changed far from both ends is found.
        ResourceWindow window;
        ASSERT_TRUE(OpenResourceWindow(nullptr, 202, L"DATA", &window));
        EXPECT_TRUE(WindowHoldsResource(nullptr, 202, L"DATA", window));
        std::string changed = bytes(window);
        changed[changed.size() / 2] ^= 1;
        WriteBytes(scratch.Join(L"changed.bin"), changed);
        const ResourceWindow other{UniqueFile(::CreateFileW(scratch.Join(L"changed.bin").c_str(), GENERIC_READ, 0,
                                                            nullptr, OPEN_EXISTING, 0, nullptr)),
                                   0, window.size};
        EXPECT_FALSE(WindowHoldsResource(nullptr, 202, L"DATA", other));
    }
    // A module loaded as data has no image to find the resource in.
    const std::wstring other = scratch.Join(L"other.exe");
    ASSERT_TRUE(::CopyFileW(self, other.c_str(), FALSE));
    HMODULE data = ::LoadLibraryExW(other.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    ResourceWindow none;
    EXPECT_FALSE(OpenResourceWindow(data, 200, L"DATA", &none));
    const std::wstring copy = scratch.Join(L"temp.7z");
    {
        ResourceWindow window;
        ASSERT_TRUE(CopyResourceToHeldFile(data, 200, L"DATA", copy.c_str(), &window));
        EXPECT_EQ(std::string("ab\r\n\377cd"), bytes(window));
        EXPECT_FALSE(canWrite(copy));
        ResourceWindow again;
        EXPECT_FALSE(CopyResourceToHeldFile(data, 200, L"DATA", copy.c_str(), &again));
    }
    EXPECT_FALSE(Exists(copy));
    ::FreeLibrary(data);
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
    // Too long to delete: a failure, not "nothing there".
    EXPECT_EQ(0, DeletePath(tooLong.c_str()));
    EXPECT_TRUE(Exists(L"\\\\?\\" + tooLong));
}

TEST(FileOpsTest, DeletePathTakesWholeTreesAndRefusesPatterns)
{
    ScratchDir scratch;
    ASSERT_EQ(1, CreateFolderTree(scratch.Join(L"old\\b\\c").c_str()));
    WriteBytes(scratch.Join(L"old\\b\\c\\f.txt"), "data");
    ASSERT_EQ(1, DeletePath(scratch.Join(L"old").c_str()));
    EXPECT_FALSE(Exists(scratch.Join(L"old")));
    // Nothing there: done.
    EXPECT_EQ(1, DeletePath(scratch.Join(L"old").c_str()));
    EXPECT_EQ(0, DeletePath(nullptr));

    // A pattern matches both files and names neither.
    WriteBytes(scratch.Join(L"a.txt"), "a");
    WriteBytes(scratch.Join(L"b.txt"), "b");
    EXPECT_EQ(0, DeletePath(scratch.Join(L"*.txt").c_str()));
    EXPECT_EQ(0, DeletePath(scratch.Join(L"?.txt").c_str()));
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
