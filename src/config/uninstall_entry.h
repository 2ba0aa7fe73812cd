// The product's entry in the system's list of installed programs, written
// and removed from the configuration.
#pragma once

#include "system/uninstall.h"

// Writes the entry afresh from the configuration: Publisher,
// DisplayName, DisplayVersion, DisplayIcon and UninstallString. True when
// the key was made and all five values were written; false, touching
// nothing, when UninstallKeyPath refuses the display name or no
// installation folder is stored; false for a failed step (values already
// written stay).
bool RegisterUninstall();

// Deletes the entry named by the configuration's display name. True
// when it was walked and deleted; false when it is absent, could not be
// walked, or UninstallKeyPath refuses the display name (nothing touched).
bool RemoveUninstallEntry();
