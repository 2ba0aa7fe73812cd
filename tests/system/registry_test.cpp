// The tree deletion's refusal of an empty path, under a scratch key of
// HKEY_LOCAL_MACHINE. (The uninstall entry's tests cover the key holder and
// the deletion of an old entry's nested subkeys.)
#include "system/uninstall.h"
#include "support/test_support.h"

namespace {

const std::wstring kBase = L"SOFTWARE\\SetupServicesTests\\";

bool KeyExists(const std::wstring& path)
{
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kBase + path).c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

TEST(RegistryTest, DeleteKeyTreeNeverDeletesTheRootItIsGiven)
{
    // An empty path would name the root itself, with everything under it.
    UniqueKey root, child;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kBase + L"keep").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      root.put(), nullptr);
    ::RegCreateKeyExW(root.get(), L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, child.put(), nullptr);
    EXPECT_EQ(0, DeleteKeyTree(root.get(), L""));
    EXPECT_FALSE(RegKey().RecreateKey(root.get(), L""));
    EXPECT_TRUE(KeyExists(L"keep\\child"));
    child.reset();
    EXPECT_EQ(1, DeleteKeyTree(HKEY_LOCAL_MACHINE, kBase + L"keep"));
    EXPECT_FALSE(KeyExists(L"keep"));
    EXPECT_EQ(0, DeleteKeyTree(HKEY_LOCAL_MACHINE, kBase + L"keep"));
}

}  // namespace
