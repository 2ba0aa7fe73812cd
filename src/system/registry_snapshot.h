// A registry key's values kept as bytes, to put the key back exactly as it
// was: what a run keeps before it replaces a key.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Whether the key at path under root exists (*existed) and its values, one
// after another, appended to *values. False when the key exists but cannot
// be read.
bool SnapshotKey(HKEY root, const std::wstring& path, bool* existed, std::string* values);

// Puts the key at path under root back as a snapshot found it: whatever is
// there now goes, subkeys and all, and when it existed it is made again
// with exactly the values. False when it could not be, or the values do
// not read back as SnapshotKey writes them.
bool RestoreKey(HKEY root, const std::wstring& path, bool existed, std::string_view values);
