// The copy of the configuration the run keeps in its temporary folder, with
// the chosen folder added: for whoever looks at it, never read back. The
// process holds its file from creation, so no other program changes it.
#pragma once

#include "config/config.h"

#include <string>

// incfg.ini in RunFolder(); empty when the run has no folder.
std::wstring ConfigFilePath();

// Makes configuration the run's copy and writes its text to
// ConfigFilePath() byte for byte, as a new file. The file stays open, shared
// for reading only, until DeleteConfigFile: no other program can change or
// replace it meanwhile, and it goes when its handle closes. 1 when the file
// was written; 0 when the run has no folder, or the file cannot be created
// or written (the copy then still holds configuration when the run has a
// folder).
int WriteConfigFile(const Configuration& configuration);

// Removes the run's copy and its file, as the run must before
// RemoveRunFolder. Nothing is reported.
void DeleteConfigFile();

// Sets key in section IN_INFO of the run's copy (an empty copy when
// WriteConfigFile made none) and writes the copy's whole text through its
// held handle, in GBK when every character fits and else in UTF-16 with a
// byte-order mark. True when it was written; false when the run has no
// folder or the write failed.
bool WriteSetting(const std::wstring& key, const std::wstring& value);
