// The group operations when the shell has no Programs folder to give: the
// user's Programs folder redirected to one that does not exist.
#include "system/shortcuts.h"
#include "system/unique_handle.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

TEST(ProgramsFolderTest, WithoutAProgramsFolderGroupsFailOrDoNothing)
{
    // The shell refuses the folder but still fills in its path, so acting on
    // that would make a Start menu of the installer's own.
    ScratchDir scratch;
    const std::wstring name = L"服务测试 no Programs", exe = scratch.Join(L"Marvane.exe");
    UniqueKey folders;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER,
                                             L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                             0, KEY_ALL_ACCESS, folders.put()));
    wchar_t saved[2 * MAX_PATH] = {};
    DWORD type = 0, size = sizeof(saved);
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(folders.get(), L"Programs", nullptr, &type,
                                                reinterpret_cast<BYTE*>(saved), &size));
    const auto restore = ScopeExit([&] {
        ::RegSetValueExW(folders.get(), L"Programs", 0, type, reinterpret_cast<const BYTE*>(saved), size);
    });
    const std::wstring missing = scratch.Join(L"no Programs");
    ::RegSetValueExW(folders.get(), L"Programs", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(missing.c_str()),
                     static_cast<DWORD>((missing.size() + 1) * 2));

    EXPECT_FALSE(CreateProgramGroup(nullptr, name.c_str()));
    EXPECT_FALSE(CreateGroupShortcut(nullptr, exe.c_str(), name.c_str(), L"main", nullptr));
    EXPECT_FALSE(Exists(missing));
}

}  // namespace
