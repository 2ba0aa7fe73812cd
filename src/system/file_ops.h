// File-system work outside the payload extraction: the payload's resource
// read where it lies in the module's file, existence tests, and deletion and
// folder creation. Deletion walks the tree through handles and never follows
// a link; folders are made by the shell's SHCreateDirectoryExW without a
// window. Nothing shows a message: every function returns 1 (or true) for
// success and 0 (or false) for failure.
#pragma once

#include "system/unique_handle.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// A resource where it lies in its module's file, with that file held open.
struct ResourceWindow {
    UniqueFile file;
    uint64_t offset = 0;
    uint64_t size = 0;
};

// Opens the file of module (null: the running executable) for reading with
// read sharing only, so that no program can write, replace or delete it
// while the window is held, and finds resource (id, type) in it. True when
// the window is open and the file's bytes there are the loaded resource's;
// false when the resource is missing, lies outside the image's sections (a
// module loaded as data), or the file cannot be opened or differs.
bool OpenResourceWindow(HMODULE module, int id, const wchar_t* type, ResourceWindow* window);

// Where the image route fails: writes resource (id, type) of module from
// memory to a new file at path (an existing one is refused) and keeps it open
// as the window, for reading and writing, shared for reading only, and
// deleted when the window's handle closes. True when the whole resource was
// written; false otherwise, and then nothing stays at path.
bool CopyResourceToHeldFile(HMODULE module, int id, const wchar_t* type, const wchar_t* path,
                            ResourceWindow* window);

// A second owner of an open window: the same file object through a
// duplicated handle, never the file opened again by name. True when copy
// holds it; false (copy then empty) when window is empty or the handle
// cannot be duplicated.
bool ShareResourceWindow(const ResourceWindow& window, ResourceWindow* copy);

// Reads the whole window from start to end in pieces of at most 1 MiB, each
// at its own offset (the handle's file pointer is neither used nor needed),
// handing each piece to consume in order. True when every byte was read and
// consume accepted every piece; false at the first failed or short read or
// refused piece.
bool ReadResourceWindow(const ResourceWindow& window,
                        const std::function<bool(const BYTE* data, size_t size)>& consume);

// True when window holds, byte for byte, the loaded resource (id, type) of
// module (null: the running executable), compared whole; false when the
// resource is missing, its size differs or a byte does.
bool WindowHoldsResource(HMODULE module, int id, const wchar_t* type, const ResourceWindow& window);

// 1 when the first match of path is a folder.
int IsDirectory(const wchar_t* path);

// 1 when at least one file or folder matches path (wildcards allowed) and
// the path is shorter than 260 characters and can be made a full path.
int PathExists(const wchar_t* path);

// Deletes a file or a whole folder tree, permanently and without asking,
// never descending into a link (a link is deleted itself; see DeleteTree).
// 1 when deleted or when nothing of that path exists; 0 for a null path, a
// path holding * or ? (nothing is touched), a path of MAX_PATH characters or
// more (nothing is touched), or a failed delete.
int DeletePath(const wchar_t* path);

// Creates the folder at the full path with every missing parent. 1 when it
// was created or something (a folder or a file) of that name exists; 0 for
// a null path or a failed creation.
int CreateFolderTree(const wchar_t* path);

// Calls visit with each entry of folder except "." and "..", in the order
// the system lists them, until visit returns false. False when the folder
// cannot be listed (it is missing, or not a folder); true otherwise, also
// when visit ended the listing early.
bool ForEachChild(const std::wstring& folder, const std::function<bool(const WIN32_FIND_DATAW&)>& visit);
