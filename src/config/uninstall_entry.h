// The product's entry in the system's list of installed programs, written
// from the configuration.
#pragma once

#include "config/config.h"
#include "system/uninstall.h"

#include <string>

// Writes the entry afresh from the configuration and the folder the product
// was installed into: Publisher, DisplayName, DisplayVersion, DisplayIcon
// and UninstallString. True when the key was made and all five values were
// written; false, touching nothing, when UninstallKeyPath refuses the
// display name or installDir is empty; false for a failed step (values
// already written stay).
bool RegisterUninstall(const Configuration& configuration, const std::wstring& installDir);
