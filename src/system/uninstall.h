// The product's entry in the system's list of installed programs, under
// HKEY_LOCAL_MACHINE's Uninstall key, named after the display name in the
// configuration.
//
// RegKey, DeleteKeyTree and UninstallKeyPath are in sp_system. The two
// operations that read the configuration, RegisterUninstall and
// RemoveUninstallEntry, are defined in sp_config, which sits above sp_system:
// link sp_config to call them.
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

// Deletes the key at path under root and every subkey, deepest first.
// 1 when the key and every subkey met on the way could be opened and
// queried (a key that resists the delete itself still counts); 0 when one
// could not, and for an empty path, which would name root itself.
int DeleteKeyTree(HKEY root, const std::wstring& path);

// The entry's key path for a display name; empty when the name is empty
// (which would name the Uninstall key itself) or holds a backslash (a key
// name cannot).
std::wstring UninstallKeyPath(const std::wstring& displayName);

// Writes the entry afresh from the configuration: Publisher,
// DisplayName, DisplayVersion, DisplayIcon and UninstallString. True when
// the key was made and all five values were written; false, touching
// nothing, when UninstallKeyPath refuses the display name or no
// installation folder is stored; false for a failed step (values already
// written stay).
bool RegisterUninstall();

// Deletes the entry named by the configuration's display name. True
// when it was walked and deleted; false when it is absent, could not be
// walked, or UninstallKeyPath refuses the display name (nothing touched).
bool RemoveUninstallEntry();
