#include "system/registry_snapshot.h"

#include "system/byte_record.h"
#include "system/uninstall.h"
#include "system/unique_handle.h"

#include <iterator>

bool SnapshotKey(HKEY root, const std::wstring& path, bool* existed, std::string* values)
{
    UniqueKey key;
    const LONG opened = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put());
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND)
        return false;
    *existed = opened == ERROR_SUCCESS;
    for (DWORD index = 0; *existed; ++index) {
        wchar_t name[16384];
        DWORD nameLength = static_cast<DWORD>(std::size(name));
        DWORD type = 0;
        DWORD size = 0;
        LONG result = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, nullptr, &size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            return false;
        std::string data(size, '\0');
        nameLength = static_cast<DWORD>(std::size(name));
        result = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type,
                                 reinterpret_cast<BYTE*>(data.data()), &size);
        if (result != ERROR_SUCCESS)
            return false;
        data.resize(size);
        PutText(*values, std::wstring(name, nameLength));
        PutU32(*values, type);
        PutU32(*values, static_cast<uint32_t>(data.size()));
        *values += data;
    }
    return true;
}

bool RestoreKey(HKEY root, const std::wstring& path, bool existed, std::string_view values)
{
    HKEY probe = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        ::RegCloseKey(probe);
        if (!DeleteKeyTree(root, path))
            return false;
    }
    if (!existed)
        return true;
    UniqueKey key;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    ByteReader reader(values);
    bool ok = true;
    while (!reader.AtEnd()) {
        std::wstring name;
        uint32_t type = 0;
        uint32_t size = 0;
        std::string data;
        if (!reader.Text(&name) || !reader.U32(&type) || !reader.U32(&size) || !reader.Bytes(size, &data))
            return false;
        ok = ::RegSetValueExW(key.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), size) ==
                 ERROR_SUCCESS &&
             ok;
    }
    return ok;
}
