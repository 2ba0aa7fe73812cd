// The silent installation: setup.exe /S [/D=folder] installs with no window
// into the folder given or the one the destination page would propose,
// through the same engine, and reports the outcome as its exit code.
#pragma once

#include "app/setup_arguments.h"

#include <string>

class IntegrityCheck;

// The exit codes of a silent installation, one per reason.
enum SilentExitCode : int {
    kSilentSucceeded = 0,
    kSilentBadArguments = 1,    // an argument other than /S and /D=, or /D= without an absolute folder
    kSilentAlreadyRunning = 2,  // another copy of this installer runs
    kSilentDamaged = 3,         // the payload or configuration does not match its digest, a data file is
                                // missing or of another size, or a piece of one is found damaged
    kSilentNoConfiguration = 4, // the configuration copy could not be written
    kSilentFolderRefused = 5,   // a drive root, a system folder, or a folder with other content
    kSilentNoSpace = 6,         // the folder's drive has less free space than the product needs
    kSilentProgramInUse = 7,    // a file of the earlier installation is in use
    kSilentInstallFailed = 8,   // a step of the installation failed; everything was rolled back
};

// Runs the installation without a window; integrity is the check started
// at start-up. Returns a SilentExitCode.
int RunSilentInstall(const SetupArguments& arguments, IntegrityCheck& integrity);
