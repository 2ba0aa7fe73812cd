// Folders a run marks as its own with a tag file: deleted so that the tag
// goes last, and a deletion cut short leaves either the tag (the next run
// knows the folder for its own and finishes) or an empty folder.
#pragma once

#include "system/folder_handles.h"

#include <initializer_list>
#include <string>

// Whether the held folder has an entry named tag (of any kind: a link
// named so counts, and is never followed).
bool HoldsTag(const HeldFolder& folder, const wchar_t* tag);

// Deletes everything in the held folder, then the tags in the order given,
// then, the hold released, the folder at path itself while it is still
// empty. True when nothing of it remains.
bool DeleteHeldTaggedFolder(HeldFolder folder, const std::wstring& path, std::initializer_list<const wchar_t*> tags);

// Takes away what is at name in parent when it is ours to take: a folder
// that holds tag, or an empty one (with its tag last), or a link (itself).
// The entry is opened once, through parent and without following a link,
// and checked and deleted through that one hold, so nothing put in its
// place meanwhile is touched. True when nothing is left at name (also when
// nothing was); false with ERROR_ALREADY_EXISTS for someone else's folder,
// ERROR_DIRECTORY for a file, else the system's reason.
bool DeleteTaggedFolder(const HeldFolder& parent, const std::wstring& name, const wchar_t* tag);
