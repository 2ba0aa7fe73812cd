// Who may do what in an installation folder. The product's files are the
// administrators': the folder has an access list of its own, never one
// inherited from a parent that users can write (a second drive's root lets
// every user in), with full control for Administrators and SYSTEM and read
// and execute for Users, as the system's own program folder has. The few
// places the game itself writes (its user data file, and folders a studio
// names) are writable by Users; nothing elevated runs anything from them.
//
// Lists are set through a handle on the entry, never by name, and never on
// a link or a file with more than one link: a hard link to another file
// would hand that file's list over to the player.
#pragma once

#include "system/folder_handles.h"

#include <windows.h>

#include <string>
#include <vector>

enum class EntryAccess {
    kProduct,   // Administrators and SYSTEM full control, Users read and execute
    kWritable,  // the same, and Users may change it (and, for a folder, what is in it)
};

// The installation folder's own list (and that of a folder the installer
// makes above it), as SDDL: protected, inherited by everything inside.
std::wstring InstallationAccessText();

// The list an entry inside the installation gets, as SDDL: the folder's
// list in its inherited form (as the system would give a new entry), and
// for kWritable, Users' modify access of the entry's own before it.
std::wstring EntryAccessText(EntryAccess access, bool folder);

// EntryAccessText as a descriptor, made once and kept for the process, for
// entries made with their list from the start; null when it cannot be made.
PSECURITY_DESCRIPTOR EntryAccessDescriptor(EntryAccess access, bool folder);

// Gives the held folder the installation's own list. Only the folder
// itself changes: entries inside keep theirs (an earlier installation's
// player files keep what their player may do). False with the reason in
// GetLastError.
bool ApplyInstallationAccess(const HeldFolder& folder);

// Gives the entry behind handle the list for access. Refused
// (ERROR_CANT_ACCESS_FILE) for a link and for a file of more than one
// link. The handle needs WRITE_DAC.
bool ApplyEntryAccess(HANDLE entry, EntryAccess access);

// The entry lists on the entries at paths (relative, "\\" between levels)
// below the held root and the folders on their way, for an installation
// whose other entries (the player's) keep theirs. An entry that is missing
// is passed over. False at the first entry that could not be given its
// list, the reason in GetLastError.
bool ApplyEntryAccessBelow(const HeldFolder& root, const std::vector<std::wstring>& paths,
                           const std::vector<std::wstring>& writable);

// Whether path (relative) is one of writable or lies inside one of them.
bool IsWritablePlace(const std::wstring& path, const std::vector<std::wstring>& writable);

// Holds the folder at the full path folder (the one above an installation),
// making every missing level (a second drive's program folder) through the
// one above it with the installation's own list from the start, so that
// nobody but an administrator can put anything in it. The nearest level
// that is there is opened as it is. False when a level is a file or a link.
bool MakeInstallationParents(const std::wstring& folder, HeldFolder* held);
