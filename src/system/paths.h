// How paths are compared and spelled: one home for the rules that the
// folder guards, the recovery, the configuration reader and the
// uninstaller share.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The system's own comparison of names: ordinal, case ignored, as the file
// system and the registry compare them.
bool SameText(std::wstring_view a, std::wstring_view b);

// text in capitals, as a key under which names that SameText finds equal
// fall together.
std::wstring TextKey(std::wstring text);

// Whether path is folder itself or lies anywhere below it (case ignored).
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);

// The long form of an existing path ("C:\PROGRA~1" as "C:\Program Files"),
// or the path itself when the system cannot give one.
std::wstring LongPathOf(const std::wstring& path);

// The full path of module's file (null: the running program); empty when
// the system cannot tell.
std::wstring ModulePath(HMODULE module = nullptr);

// The user's temporary directory with its trailing backslash, in its long
// form when the system can give it (else as the system reports it). Empty
// when the system reports none or it would need 260 characters or more.
std::wstring TempDirectory();

// The directory, one backslash (none added when it already ends with one)
// and the name. An empty directory yields an empty string: a missing base
// must never turn the name into a relative path.
std::wstring JoinPath(const std::wstring& directory, const std::wstring& name);

// The two halves of a path split at its last backslash: ParentOf is what
// lies before it (a drive root keeps its own: the parent of "C:\Games" is
// "C:\"), empty when there is no backslash or path is a drive root itself;
// NameOf is what follows it, or the whole path without one. Only "\"
// separates here: a caller that takes "/" too turns it into "\" first.
std::wstring ParentOf(const std::wstring& path);
std::wstring NameOf(const std::wstring& path);

// True when a relative name stays inside the folder it is taken against and
// names something Windows can hold: no "..", no drive or stream (":"), no
// leading separator, no empty level, no reserved device name (CON, NUL,
// COM1, ...), no character that Windows refuses in a file name. Both "/" and
// "\" count as separators here, since Windows reads either as one.
bool IsSafeEntryName(const wchar_t* name);
