// Folders the elevated programs keep their own state in (what they write to
// read back later): made new, with an access list of their own that lets
// only Administrators and SYSTEM in, and taken back only when they still
// are such a folder. A program of the same user, unelevated, can then
// neither change what is in them nor make a folder that passes for one.
#pragma once

#include "system/folder_handles.h"

#include <windows.h>

#include <string>

// Creates path as a new folder (an existing one, a link included, fails
// with ERROR_ALREADY_EXISTS) owned by Administrators, with full control for
// Administrators and SYSTEM only, inherited by what is made inside and
// nothing inherited from the parent. A program that is not elevated cannot
// give the folder that owner: the folder then gets the parent's access (no
// one is kept out who could not already act as this program). False with
// the reason in GetLastError.
bool CreatePrivateFolder(const std::wstring& path);

// Whether the held folder is a private folder as CreatePrivateFolder makes
// one: owned by Administrators or SYSTEM (or by whoever this system makes
// the owner of such a folder: a system that keeps no owners, as Wine, shows
// every file as the user's), and with exactly the access list such a folder
// reads back with, protected, nothing inherited, nobody else let in. A
// folder the elevated installer made for something else (a subfolder of an
// installation, owned by Administrators too) and renamed by its user fails
// on its list. False also when either cannot be read, or no folder of
// comparison can be made.
bool IsPrivateFolder(const HeldFolder& folder);

// The earlier name of that check; it now makes the same strict one.
inline bool IsOwnedAsPrivate(const HeldFolder& folder) { return IsPrivateFolder(folder); }

// The same, made as name in parent and held from the moment it exists (as
// MakeNewChildFolder holds it) with share and extraAccess.
bool MakePrivateChildFolder(const HeldFolder& parent, const std::wstring& name, DWORD share, HeldFolder* made,
                            ACCESS_MASK extraAccess = 0);
