// The folder of this run's temporary files: private to the run and held
// open while it lasts.
#pragma once

#include <string>

// The longest name of a file the run keeps in its folder: a folder whose
// path leaves it no room under MAX_PATH is not made.
inline constexpr size_t kRunFileNameRoom = 9;

// The folder of this run's temporary files, inside TempDirectory(): made new
// on first use under a name no other run holds, so that two installers never
// touch each other's files, and held open so that it cannot be renamed or
// replaced while the run uses it. Empty when it cannot be made.
std::wstring RunFolder();

// Removes this run's folder, once the run has let go of the files it put
// there (a file someone else added keeps it in place); the next RunFolder()
// makes a new one. The application calls it as it ends, however the wizard
// ended.
void RemoveRunFolder();
