// setup.exe's command line: nothing for the wizard, /S [/D=folder] for the
// silent installation; /LOG or /LOG=file (before /D=) with either writes a
// log of the run.
#pragma once

#include <string>

struct SetupArguments {
    bool silent = false;   // /S
    bool hasFolder = false;
    std::wstring folder;   // /D=, the rest of the command line, spaces included
    bool log = false;      // /LOG or /LOG=file
    std::wstring logFile;  // the file of /LOG=, quotes removed; empty for the default
    bool unknown = false;  // anything else
};

// The arguments of a whole command line, program name first (as
// GetCommandLineW gives it). /D= is taken last: everything after it is the
// folder, quotes around it removed.
SetupArguments ParseSetupArguments(const std::wstring& commandLine);
