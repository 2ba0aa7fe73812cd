// The application object: one copy of the installer per executable name,
// running the wizard's frame modally.
#pragma once

#include "framework/application.h"

class CSetupApp : public framework::Application {
protected:
    // Runs the wizard, or nothing when a copy under the same name already
    // runs. Always false: the wizard is the whole program.
    bool InitInstance() override;
};
