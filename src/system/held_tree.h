// The folders below one root, reached as the folder guards reach them: each
// level opened (or made) through the one above it without following a
// link, held once and reused for every entry that lies in it. The tree
// answers for the folders it holds; the entries in them are the caller's.
#pragma once

#include "system/folder_handles.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>

class HeldTree {
public:
    // Called once for each folder the first time it is held, with its path
    // relative to the root; false fails that folder (and all below it).
    using OnHeld = std::function<bool(const std::wstring& relative, const HeldFolder& folder)>;

    // root must outlast the tree. share is what each held folder allows
    // others; with make, missing levels are made; extraAccess adds to the
    // access of each folder opened (WRITE_DAC for one that sets lists).
    HeldTree(const HeldFolder& root, DWORD share, bool make = false, ACCESS_MASK extraAccess = 0,
             OnHeld onHeld = {});

    // The held folder at relative (levels between "\", case ignored as
    // Windows ignores it; empty: the root), or null when it or a level above
    // it is missing, a link or no folder, or could not be made; the reason
    // is in GetLastError, also when asked again.
    const HeldFolder* Folder(const std::wstring& relative);

    // The held folder that holds the entry relative, and the entry's name.
    const HeldFolder* FolderOf(const std::wstring& relative, std::wstring* name);

    // Lets go of the folder at relative and of everything below it, so that
    // it can be deleted; asked again, it is opened again.
    void Release(const std::wstring& relative);

private:
    struct Level {
        HeldFolder folder;
        DWORD error = ERROR_SUCCESS;
    };

    const HeldFolder& root_;
    DWORD share_;
    bool make_;
    ACCESS_MASK extraAccess_;
    OnHeld onHeld_;
    std::map<std::wstring, Level> held_;  // by TextKey of the relative path
};
