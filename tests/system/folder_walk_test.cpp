// How paths are split, how a tree of held folders is reused and let go,
// and which entries a tagged-folder deletion takes.
#include "system/file_ops.h"
#include "system/folder_handles.h"
#include "system/held_tree.h"
#include "system/paths.h"
#include "system/tagged_folder.h"
#include "support/test_support.h"

#include <functional>

using namespace testing_support;

TEST(FolderWalk, PathsSplitAtTheLastBackslashAndADriveRootKeepsItsOwn)
{
    const struct {
        const wchar_t* path;
        const wchar_t* parent;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\Games", L"C:\\", L"Games"},
        {L"C:\\Games\\Marvane", L"C:\\Games", L"Marvane"},
        {L"C:\\", L"", L""},
        {L"\\\\server\\share\\Games", L"\\\\server\\share", L"Games"},
        {L"data\\b.dat", L"data", L"b.dat"},
        {L"ab\\c", L"ab", L"c"},
        {L"a.exe", L"", L"a.exe"},
        {L"config/user.ini", L"", L"config/user.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.path));
        EXPECT_EQ(ParentOf(c.path), c.parent);
        EXPECT_EQ(NameOf(c.path), c.name);
    }
}

TEST(FolderWalk, AHeldTreeOpensEachFolderOnceWhateverItsCaseAndLetsGoBeforeADeletion)
{
    ScratchDir scratch;
    ASSERT_EQ(CreateFolderTree(scratch.Join(L"inst\\Data\\Maps").c_str()), 1);
    HeldFolder root;
    ASSERT_TRUE(OpenFolderNoFollow(scratch.Join(L"inst"), FILE_SHARE_READ | FILE_SHARE_WRITE, &root));
    HeldTree tree(root, FILE_SHARE_READ | FILE_SHARE_WRITE);
    const HeldFolder* maps = tree.Folder(L"Data\\Maps");
    ASSERT_NE(maps, nullptr);
    std::wstring name;
    EXPECT_EQ(tree.FolderOf(L"data\\maps\\m1.map", &name), maps);
    EXPECT_EQ(name, L"m1.map");
    EXPECT_EQ(tree.Folder(L"DATA"), tree.Folder(L"data"));
    EXPECT_EQ(tree.Folder(L"Data\\missing\\deeper"), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // Held without delete sharing, the folder stays until the tree lets it go.
    const HeldFolder* data = tree.Folder(L"data");
    RemoveChildFolderIfEmpty(*data, L"Maps");
    EXPECT_TRUE(Exists(scratch.Join(L"inst\\Data\\Maps")));
    tree.Release(L"data\\maps");
    EXPECT_TRUE(RemoveChildFolderIfEmpty(*tree.Folder(L"data"), L"Maps"));
    EXPECT_FALSE(Exists(scratch.Join(L"inst\\Data\\Maps")));
}

TEST(FolderWalk, ATaggedFolderDeletionTakesOnlyWhatIsOurs)
{
    constexpr const wchar_t* kTag = L"~test.tag";
    const struct {
        const char* what;
        std::function<void(const std::wstring& at)> make;
        bool deleted;
        DWORD error;
    } cases[] = {
        {"nothing there", [](const std::wstring&) {}, true, 0},
        {"an empty folder", [](const std::wstring& at) { CreateFolderTree(at.c_str()); }, true, 0},
        {"a tagged folder with a tree in it",
         [&](const std::wstring& at) {
             CreateFolderTree((at + L"\\deep\\er").c_str());
             WriteBytes(at + L"\\" + kTag, "");
             WriteBytes(at + L"\\deep\\er\\half.tmp", "partial");
         },
         true, 0},
        {"someone else's folder",
         [](const std::wstring& at) {
             CreateFolderTree(at.c_str());
             WriteBytes(at + L"\\mine.txt", "someone's");
         },
         false, ERROR_ALREADY_EXISTS},
        {"a file", [](const std::wstring& at) { WriteBytes(at, "a file"); }, false, ERROR_DIRECTORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        const std::wstring at = scratch.Join(L"Marvane.temp");
        c.make(at);
        HeldFolder parent;
        ASSERT_TRUE(OpenFolderNoFollow(scratch.path(), FILE_SHARE_READ | FILE_SHARE_WRITE, &parent));
        EXPECT_EQ(DeleteTaggedFolder(parent, L"Marvane.temp", kTag), c.deleted);
        if (!c.deleted) {
            EXPECT_EQ(::GetLastError(), c.error);
        }
        EXPECT_EQ(Exists(at), !c.deleted);
    }
}
