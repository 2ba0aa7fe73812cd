// The application object: one copy of the installer per executable name,
// running the wizard's frame modally, or with /S the silent installation.
#pragma once

#include "framework/application.h"

class CSetupApp : public framework::Application {
protected:
    // Runs the wizard, or the silent installation, or nothing when a copy
    // under the same name already runs. Always false: either is the whole
    // program.
    bool InitInstance() override;
    // The silent installation's outcome (SilentExitCode); 0 for the wizard.
    int ExitInstance() override;

private:
    int exitCode_ = 0;
};
