// The product's entry in the system's list of installed programs, under
// HKEY_LOCAL_MACHINE's Uninstall key, named after the display name in the
// configuration.
//
// The registry's side of it; writing and removing the entry from the
// configuration is config/uninstall_entry.h.
#pragma once

#include "system/unique_handle.h"

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Holds at most one open registry key; starts with none.
class RegKey {
public:
    // Deletes path under root with all its subkeys when it exists, then
    // creates it afresh and keeps it open. True when a new, empty key is
    // open; false (nothing open) when path is empty, the old key could not
    // be walked or the key could not be created.
    bool RecreateKey(HKEY root, const std::wstring& path);

    // Writes a REG_SZ value, terminator included. True when it was written;
    // false when no key is open, text is null or the write failed.
    bool SetString(const wchar_t* name, const wchar_t* text);

    // Closes the open key, if any.
    void Close();

    HKEY get() const { return key_.get(); }

private:
    UniqueKey key_;
};

// Deletes the key at path under root with every subkey and value (the
// system's own tree delete). 1 when it is gone; 0 when it was not there or
// could not be deleted, and for an empty path, which would name root itself.
int DeleteKeyTree(HKEY root, const std::wstring& path);

// The entry's key path for a display name; empty when the name is empty
// (which would name the Uninstall key itself) or holds a backslash (a key
// name cannot).
std::wstring UninstallKeyPath(const std::wstring& displayName);
