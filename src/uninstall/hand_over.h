// The hand-over between the uninstaller in the installation folder (the
// original) and the copy of it that does the removing.
//
// A running program's file cannot be deleted, so the original starts a copy
// of itself from a folder of its own and waits. The copy moves the
// original's file, still running, out of the installation folder into a
// folder of its own beside it, removes the installation, reports how that
// ended through a pipe (the original ends with that code, so a script that
// waits for the original gets the real outcome), waits for the original to
// end and removes its file. The copy's own file and folder go at the next
// restart. Both folders are made new, for Administrators and SYSTEM only,
// and held while in use: a program of the user, not elevated, can neither
// put a DLL beside the copy nor another program in its place.
#pragma once

#include "system/folder_handles.h"
#include "system/unique_handle.h"

#include <windows.h>

#include <functional>
#include <string>

// The original's own image, opened once as it starts, before it asks
// anything: read sharing only, so that while it is held nobody renames,
// replaces or changes the file, and the copy is made from this handle, never
// from the name again. Refused when the file at the program's path is a
// link or not the image this process runs (its headers differ).
bool OpenOwnImage(UniqueFile* image);

// The original's side: writes the bytes of image (from OpenOwnImage) as a
// new program into a new folder of its own in the temporary folder, lets go
// of image (the copy moves the original's file aside), and starts the copy
// with arguments and the handles it needs (/_wait=, /_report=), then waits
// for its report. Returns the reported code; the copy's exit code when it
// ended without a report; 1 when it could not be started (nothing of it
// stays then).
int RunCopy(UniqueFile image, const std::wstring& arguments);

// The copy's side, from the handles the original passed: they come on the
// command line, so each is taken only when it is what the original passes
// (a process, a pipe); neither is there when the copy was started by hand.
class Original {
public:
    Original(HANDLE process, HANDLE report);

    // Whether an original is running and waits for the report.
    bool IsWaiting() const { return static_cast<bool>(process_); }

    // Moves the original's file at path (inside installFolder) into a new
    // folder of its own beside installFolder, through handles, so that the
    // installation folder can go while the original runs. True when it was
    // moved or no original is waiting.
    bool StepAside(const std::wstring& path, const std::wstring& installFolder);

    // Tells the original the outcome (it ends with that code), waits for it
    // to end and removes its moved file and that file's folder.
    void Report(int code);

private:
    UniqueHandle process_;
    UniqueHandle report_;
    HeldFolder aside_;
    std::wstring asidePath_;
};

// A removal, tried again for a few seconds until it returns true: whoever
// opened a file last (the loader of a program that has just ended, a virus
// scanner) may hold it a moment longer.
bool RemovePatiently(const std::function<bool()>& removal);

// The copy's own file, and when it was handed over (it lies in a folder of
// its own) that folder too, deleted at the next restart: a running program's
// file cannot go sooner.
void RemoveCopyAtRestart(const std::wstring& self, bool handedOver);
