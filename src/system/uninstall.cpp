#include "system/uninstall.h"

#include "system/trace.h"

bool RegKey::RecreateKey(HKEY root, const std::wstring& path)
{
    // An empty path would name root itself and delete everything under it.
    if (path.empty())
        return false;
    UniqueKey existing;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, existing.put()) == ERROR_SUCCESS) {
        existing.reset();
        if (DeleteKeyTree(root, path) == 0) {
            InstallTrace(L"删除注册表子项错误!\r\n");
            return false;
        }
    }
    InstallTrace(L"创建注册表子项\r\n");
    UniqueKey created;
    DWORD disposition = 0;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          created.put(), &disposition) != ERROR_SUCCESS)
        return false;
    InstallTrace(L"创建注册表子项成功!\r\n");
    key_ = std::move(created);
    return true;
}

bool RegKey::SetString(const wchar_t* name, const wchar_t* text)
{
    if (!key_ || !text)
        return false;
    const DWORD bytes = static_cast<DWORD>((::lstrlenW(text) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
           ERROR_SUCCESS;
}

void RegKey::Close() { key_.reset(); }

int DeleteKeyTree(HKEY root, const std::wstring& path)
{
    if (path.empty())
        return 0;
    return ::RegDeleteTreeW(root, path.c_str()) == ERROR_SUCCESS ? 1 : 0;
}

std::wstring UninstallKeyPath(const std::wstring& displayName)
{
    // The display name is one key name: empty, it would name the Uninstall
    // key itself (every installed program's entry); with a backslash, a key
    // elsewhere under it.
    if (displayName.empty() || displayName.find(L'\\') != std::wstring::npos)
        return {};
    return std::wstring(kUninstallKey) + L"\\" + displayName;
}
