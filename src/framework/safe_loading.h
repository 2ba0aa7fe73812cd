// Start-up hardening for a program that is run from a folder full of other
// people's files (a Downloads folder): no DLL may be taken from beside it.
#pragma once

#include <windows.h>

namespace framework {

// Limits the DLL search of the whole process to the system folder. The
// program calls it before anything else. Where the system lacks
// SetDefaultDllDirectories (Windows 7 without its update, and older), the
// program's folder stays searched but the current folder is taken out.
// True when the system folder is now the only place searched.
bool RestrictDllSearchToSystemFolder();

// Loads a DLL by its name from the system folder only, whatever the search
// order; null when it is not there.
HMODULE LoadSystemLibrary(const wchar_t* name);

// InitCommonControls from the system's comctl32, which is not a Known DLL
// and so is kept out of the import table. False when it cannot be loaded.
bool InitCommonControlsFromSystem();

}  // namespace framework
