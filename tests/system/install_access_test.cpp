// The installation's access lists as built, and as they land on a real
// tree under Wine (which keeps them as Unix permissions); the private
// folder check; files of more than one link.
#include "system/folder_handles.h"
#include "system/install_access.h"
#include "system/paths.h"
#include "system/private_folder.h"
#include "support/test_support.h"

#include <sddl.h>

using namespace testing_support;

namespace {

constexpr ACCESS_MASK kAnyWrite = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                  FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

// Each list grants Administrators and SYSTEM everything, Users read and
// execute, and Users' changes only where the game writes; never more.
TEST(InstallAccess, ListsLetUsersReadEverywhereAndWriteOnlyWhereTheGameWrites)
{
    const BYTE oici = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const struct {
        const char* what;
        std::wstring text;
        bool isProtected;
        BYTE inheritFlags;  // of the three grants
        bool usersModify;   // an explicit modify entry for Users besides
    } cases[] = {
        {"installation folder", InstallationAccessText(), true, oici, false},
        {"product folder", EntryAccessText(EntryAccess::kProduct, true), false, oici | INHERITED_ACE, false},
        {"product file", EntryAccessText(EntryAccess::kProduct, false), false, INHERITED_ACE, false},
        {"writable folder", EntryAccessText(EntryAccess::kWritable, true), false, oici | INHERITED_ACE, true},
        {"writable file", EntryAccessText(EntryAccess::kWritable, false), false, INHERITED_ACE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(c.text.c_str(), SDDL_REVISION_1,
                                                                           &descriptor, nullptr));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
        EXPECT_EQ((control & SE_DACL_PROTECTED) != 0, c.isProtected);
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL list = nullptr;
        ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
        ASSERT_TRUE(present && list);
        EXPECT_EQ(list->AceCount, c.usersModify ? 4u : 3u);
        int full = 0;
        int usersRead = 0;
        int usersModify = 0;
        for (DWORD i = 0; i < list->AceCount; ++i) {
            void* entry = nullptr;
            ASSERT_TRUE(::GetAce(list, i, &entry));
            const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
            ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
            const PSID sid = const_cast<DWORD*>(&ace->SidStart);
            if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid)) {
                EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
                EXPECT_EQ(ace->Header.AceFlags, c.inheritFlags);
                ++full;
            } else if (::IsWellKnownSid(sid, WinBuiltinUsersSid) && (ace->Header.AceFlags & INHERITED_ACE) == 0 &&
                       c.usersModify) {
                // Modify: change and delete what is there, never its list or owner.
                EXPECT_EQ(ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE),
                          static_cast<ACCESS_MASK>(FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE));
                EXPECT_EQ(ace->Mask & (WRITE_DAC | WRITE_OWNER), 0u);
                EXPECT_EQ(ace->Header.AceFlags, static_cast<BYTE>(c.inheritFlags & oici));
                ++usersModify;
            } else if (::IsWellKnownSid(sid, WinBuiltinUsersSid)) {
                EXPECT_EQ(ace->Mask & kAnyWrite, 0u);
                EXPECT_EQ(ace->Mask & (FILE_READ_DATA | FILE_EXECUTE), static_cast<ACCESS_MASK>(FILE_READ_DATA | FILE_EXECUTE));
                EXPECT_EQ(ace->Header.AceFlags, c.inheritFlags);
                ++usersRead;
            } else {
                ADD_FAILURE() << "an entry for someone else";
            }
        }
        EXPECT_EQ(full, 2);
        EXPECT_EQ(usersRead, 1);
        EXPECT_EQ(usersModify, c.usersModify ? 1 : 0);
        ::LocalFree(descriptor);
    }
}

// A tree made as a program makes one (others may read it) gets its lists on
// the entries named and the folders on their way, reached through held
// folders; a file of a second name is neither given a list nor read as a
// record: its other name (here the administrators' file outside) stays as
// it was.
TEST(InstallAccess, TheTreeGetsItsListsAndAHardLinkIsNeverTrusted)
{
    ScratchDir scratch;
    const std::wstring root = scratch.Join(L"inst");
    for (const wchar_t* folder : {L"inst", L"inst\\data", L"inst\\saves"})
        ASSERT_TRUE(::CreateDirectoryW(scratch.Join(folder).c_str(), nullptr) || Exists(scratch.Join(folder)));
    const std::wstring secret = scratch.Join(L"secret.bin");
    WriteBytes(secret, "the administrators' bytes");
    for (const wchar_t* file : {L"inst\\a.exe", L"inst\\data\\b.dat", L"inst\\saves\\s.sav"})
        WriteBytes(scratch.Join(file), "product");
    ASSERT_TRUE(OthersMayEnter(root + L"\\a.exe"));
    const std::wstring linked = root + L"\\UserSetting.ini";
    ASSERT_TRUE(::CreateHardLinkW(linked.c_str(), secret.c_str(), nullptr));

    HeldFolder held;
    ASSERT_TRUE(OpenFolderNoFollow(root, FILE_SHARE_READ | FILE_SHARE_WRITE, &held, WRITE_DAC));
    std::string read;
    const struct {
        const char* what;
        std::function<bool()> act;
    } consumers[] = {
        {"read as a record", [&] { return ReadFileNoFollow(linked, 1 << 20, &read); }},
        {"given a list", [&] { return ApplyEntryAccessBelow(held, {L"UserSetting.ini"}, {L"UserSetting.ini"}); }},
    };
    for (const auto& consumer : consumers) {
        SCOPED_TRACE(consumer.what);
        EXPECT_FALSE(consumer.act());
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
    }
    EXPECT_TRUE(read.empty());
    EXPECT_TRUE(OthersMayEnter(secret));

    ASSERT_TRUE(::DeleteFileW(linked.c_str()));
    WriteBytes(linked, "[user]\r\n");
    ASSERT_TRUE(ApplyInstallationAccess(held));
    ASSERT_TRUE(ApplyEntryAccessBelow(held, {L"a.exe", L"data\\b.dat", L"saves\\s.sav", L"UserSetting.ini"},
                                      {L"saves", L"UserSetting.ini"}));
    for (const wchar_t* entry : {L"", L"\\a.exe", L"\\data", L"\\data\\b.dat", L"\\saves", L"\\saves\\s.sav",
                                 L"\\UserSetting.ini"}) {
        SCOPED_TRACE(WideToUtf8(entry));
        EXPECT_FALSE(OthersMayEnter(root + entry));
    }
    EXPECT_TRUE(OthersMayEnter(secret));
}

// The folder above an installation is held at its deepest level; the
// levels that were missing are made with the installation's list (under
// Wine: Everyone let in nowhere), one there already is taken as it is, and
// a file on the way ends the walk with nothing made below it.
TEST(InstallAccess, TheFolderAboveIsMadeWithTheInstallationsListAndHeld)
{
    ScratchDir scratch;
    ASSERT_TRUE(::CreateDirectoryW(scratch.Join(L"plain").c_str(), nullptr));
    WriteBytes(scratch.Join(L"file"), "a file");
    const struct {
        const wchar_t* place;
        bool made;
        std::vector<const wchar_t*> listed;  // made levels: Everyone kept out
    } cases[] = {
        {L"made\\a\\b", true, {L"made", L"made\\a", L"made\\a\\b"}},
        {L"plain\\b\\", true, {L"plain\\b"}},
        {L"file\\b", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.place));
        HeldFolder held;
        EXPECT_EQ(MakeInstallationParents(scratch.Join(c.place), &held), c.made);
        for (const wchar_t* level : c.listed)
            EXPECT_FALSE(OthersMayEnter(scratch.Join(level))) << WideToUtf8(level);
        if (c.made) {
            EXPECT_TRUE(WriteNewChildFile(held, L"x", "through the hold"));
        }
        EXPECT_EQ(Exists(JoinPath(scratch.Join(c.place), L"x")), c.made);
    }
    EXPECT_TRUE(OthersMayEnter(scratch.Join(L"plain")));
    EXPECT_EQ(::GetFileAttributesW(scratch.Join(L"file\\b").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Only a folder made as a private one passes; a plain folder an
// administrator made (owned by Administrators on Windows, by the one user
// under Wine) does not, nor one given the installation's list.
TEST(PrivateFolder, OnlyAFolderWithExactlyThePrivateListPasses)
{
    ScratchDir scratch;
    ASSERT_TRUE(CreatePrivateFolder(scratch.Join(L"private")));
    ASSERT_TRUE(::CreateDirectoryW(scratch.Join(L"plain").c_str(), nullptr));
    for (const auto& [name, passes] : {std::pair{L"private", true}, std::pair{L"plain", false}}) {
        SCOPED_TRACE(WideToUtf8(name));
        HeldFolder folder;
        ASSERT_TRUE(OpenFolderNoFollow(scratch.Join(name), FILE_SHARE_READ, &folder));
        EXPECT_EQ(IsPrivateFolder(folder), passes);
    }
}

}  // namespace
