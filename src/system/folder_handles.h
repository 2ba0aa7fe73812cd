// Working on folders that another program may change while we work: every
// entry is reached through a handle on the folder that holds it, opened
// without following a reparse point (a junction, a symbolic link, a mount
// point), and checked to be that entry itself before anything is done to it.
// A link is removed itself, never what it points to.
//
// Where the system follows a link even when asked not to (Wine opens the
// target of a Unix symbolic link), the opened object does not lie where the
// entry lies, and the entry is left alone: then nothing is deleted or read
// through it, and the operation reports that it could not finish.
#pragma once

#include "system/unique_handle.h"

#include <windows.h>

#include <string>
#include <vector>

// What OpenChild takes for its disposition and options: NtCreateFile's own
// values, which not every SDK header spells.
inline constexpr ULONG kFileOpen = 1;          // only what is there
inline constexpr ULONG kFileCreate = 2;        // only a new entry
inline constexpr ULONG kDirectoryFile = 0x00000001;
inline constexpr ULONG kNonDirectoryFile = 0x00000040;
inline constexpr ULONG kSequentialOnly = 0x00000004;

// A folder held open. finalPath is where the system says the held folder
// lies, the base against which its entries are checked.
struct HeldFolder {
    UniqueFile handle;
    std::wstring finalPath;

    explicit operator bool() const { return static_cast<bool>(handle); }
};

// Opens the folder at path (a full path) without following a reparse point
// at its last component (the folders above it are taken as they are). share
// is the sharing the caller allows others while it holds the folder: without
// FILE_SHARE_DELETE nobody can rename or delete it meanwhile. False, with the
// reason in GetLastError, when it is missing, a link or not a folder
// (ERROR_DIRECTORY) or cannot be opened. extraAccess adds to the listing
// and reading access of the hold (DELETE, for DeleteHeldFolder).
bool OpenFolderNoFollow(const std::wstring& path, DWORD share, HeldFolder* folder, ACCESS_MASK extraAccess = 0);

// Deletes what is held through its own hold (opened with DELETE), which it
// releases: never by name. Only an empty folder goes; a link held itself
// goes as a link. True when it went.
bool DeleteHeldFolder(HeldFolder* folder);

// Opens the entry name of folder (a plain name, no separator) without
// following a reparse point, and checks that the opened object is that entry
// itself. disposition is kFileOpen or kFileCreate (a new entry; an
// existing one of that name fails with ERROR_FILE_EXISTS); options are extra
// NtCreateFile options such as kNonDirectoryFile. False with the reason in
// GetLastError: ERROR_FILE_NOT_FOUND when there is no such entry,
// ERROR_CANT_ACCESS_FILE when what opened is not the entry itself (a link
// this system follows).
// descriptor, when given, is the access list a new entry is made with.
bool OpenChild(const HeldFolder& folder, const std::wstring& name, ACCESS_MASK access, DWORD share,
               ULONG disposition, ULONG options, UniqueFile* child, PSECURITY_DESCRIPTOR descriptor = nullptr);

// The same for a folder: the child held as a HeldFolder, refused when it is
// a reparse point or not a folder (ERROR_DIRECTORY).
bool OpenChildFolder(const HeldFolder& folder, const std::wstring& name, DWORD share, HeldFolder* child,
                     ACCESS_MASK extraAccess = 0);

// Makes the folder name in folder, or takes the plain folder already there,
// and holds it with share. Refused (ERROR_DIRECTORY) when a file or a link
// has that name.
bool MakeChildFolder(const HeldFolder& folder, const std::wstring& name, DWORD share, HeldFolder* child,
                     PSECURITY_DESCRIPTOR descriptor = nullptr);

// Holds the folder at relative (levels separated by "\\") under root, each
// level opened through the one above it as OpenChildFolder opens it;
// with make, missing levels are made. An empty relative holds root again.
bool OpenFolderBelow(const HeldFolder& root, const std::wstring& relative, bool make, DWORD share,
                     HeldFolder* folder);

// Renames the entry behind entry (held with DELETE) to name, a plain name,
// in the held folder to: the folder given by its handle, never by a path
// resolved again. replace: an entry at the new name is replaced.
bool RenameInto(HANDLE entry, const HeldFolder& to, const std::wstring& name, bool replace);

// Renames the entry name of from (a file, a folder with what it holds, or a
// link itself) to newName in to, through a handle on the entry checked as
// OpenChild checks it. Nothing at the new place is replaced. False with the
// reason in GetLastError.
bool MoveChild(const HeldFolder& from, const std::wstring& name, const HeldFolder& to, const std::wstring& newName);

struct FolderEntry {
    std::wstring name;
    DWORD attributes = 0;
};

// The entries of the held folder except "." and "..". False when it cannot
// be listed.
bool ListFolder(const HeldFolder& folder, std::vector<FolderEntry>* entries);

// The attributes of the object behind handle (a link's own, for a link
// opened itself). False when the system cannot tell.
bool HandleAttributes(HANDLE handle, DWORD* attributes);

// Whether the file behind handle has exactly one name: a file of more
// links is never copied, kept or trusted (its other name may be an
// administrators' file the player could not read, or one the player may
// change behind it). False also when the system cannot tell.
bool HasSingleLink(HANDLE file);

// Reads the whole of the small file name in folder (at most maxBytes; a
// larger one fails) through a handle checked as OpenChild checks it. A file
// of more than one link is not read (ERROR_CANT_ACCESS_FILE).
bool ReadChildFile(const HeldFolder& folder, const std::wstring& name, size_t maxBytes, std::string* bytes);

// Writes bytes to a new file name in folder, flushed, with attributes;
// fails when an entry of that name exists.
bool WriteNewChildFile(const HeldFolder& folder, const std::wstring& name, const std::string& bytes,
                       DWORD attributes = FILE_ATTRIBUTE_NORMAL);

// Deletes the entry name of folder: a file, a link (itself), or a folder
// with everything in it, read-only entries included, never descending into
// a reparse point. keep, when not empty, is a path relative to the entry
// ("config\user.ini") that stays, with the folders on its way. True when
// nothing (but keep) is left of the entry, also when there was none.
bool DeleteChild(const HeldFolder& folder, const std::wstring& name, const std::wstring& keep = {});

// Deletes the folder name of folder only while it is empty; one that holds
// anything, or is no plain folder, stays. True unless an empty folder could
// not be deleted.
bool RemoveChildFolderIfEmpty(const HeldFolder& folder, const std::wstring& name);

// The folder above path, opened level by level from its drive or share
// root, each level through the one above and no link followed on the way,
// and the entry's own name. False (ERROR_INVALID_NAME) for a drive root or a
// relative path, else with the reason in GetLastError.
bool OpenParentOf(const std::wstring& path, HeldFolder* parent, std::wstring* name);

// Makes the folder at path where missing, walking as OpenParentOf walks:
// each level made or opened through the one above, none a link. True when
// a plain folder is there, held in *made when given.
bool MakeFolderNoFollow(const std::wstring& path, HeldFolder* made = nullptr);

// Deletes the folder at path only while it is empty, through a hold on
// that folder opened through its held parent; a link there is removed
// itself. True when nothing is at path afterwards (also when nothing was);
// kept, when given, says a folder that holds something stayed.
bool DeleteFolderIfEmpty(const std::wstring& path, bool* kept = nullptr);

// DeleteChild for a full path: its parent is opened as it is, the entry
// itself without following. keep is a full path inside path or empty. True
// when nothing (but keep) is left at path; also for a path that does not
// exist.
bool DeleteTree(const std::wstring& path, const std::wstring& keep = {});

// Reads the whole small file at path (at most maxBytes) without following a
// link at its last component. False with the reason in GetLastError:
// ERROR_FILE_NOT_FOUND when nothing is there, ERROR_CANT_ACCESS_FILE when a
// link (or a folder) is there.
bool ReadFileNoFollow(const std::wstring& path, size_t maxBytes, std::string* bytes);

// Puts a new file with bytes at path in one step: written and flushed under
// a fresh name beside it, then renamed over whatever entry is at path (a
// link there is replaced itself, never written through). False, with
// nothing left under the fresh name, when it could not.
bool WriteFileReplacing(const std::wstring& path, const std::string& bytes);

// The same for the entry name of the held folder.
bool WriteChildFileReplacing(const HeldFolder& folder, const std::wstring& name, const std::string& bytes);

// Deletes the file or the link (itself) at path; a folder there stays
// (false, ERROR_DIRECTORY). True when nothing is left; also when there was
// nothing.
bool DeleteFileNoFollow(const std::wstring& path);

// Opens the folder at path as it is, links on the way and at it followed:
// for a folder the caller takes as given (the one an installation goes
// into), so that what is made in it afterwards is made relative to it.
bool OpenFolderAsIs(const std::wstring& path, DWORD share, HeldFolder* folder);

// Makes name in folder as a new folder only (anything of that name, a link
// too, fails with ERROR_ALREADY_EXISTS), with descriptor (null: inherited)
// as its security, and holds that very folder with share and extraAccess
// from the moment it exists: nobody can put another in its place between
// making it and holding it.
bool MakeNewChildFolder(const HeldFolder& folder, const std::wstring& name, PSECURITY_DESCRIPTOR descriptor,
                        DWORD share, HeldFolder* child, ACCESS_MASK extraAccess = 0);

// Renames the held folder itself (held with DELETE) to newName in to,
// relative to that hold: never by a path resolved again. Nothing at the new
// place is replaced. On success the hold stays on it under its new name.
bool RenameHeldFolder(HeldFolder* folder, const HeldFolder& to, const std::wstring& newName);
