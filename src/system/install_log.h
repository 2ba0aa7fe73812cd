// The run's log, written only when the command line asks for one (/LOG):
// what a support desk needs to see how a run went, the trace lines among
// it. UTF-8 with a byte-order mark, one line per WriteFile as the run goes,
// so a run killed midway leaves every line it had written.
//
// The log is made new by an elevated program in a folder its user may
// write: it is created relative to a held folder that is itself no link,
// never over anything that has its name (a link there included), and
// checked to be a plain new file before the first byte goes in. A name
// already taken gives the next free one ("install.log", then
// "install-2.log" up to "install-99.log").
#pragma once

#include <windows.h>

#include <string>

// Opens the log at path (a full path, or relative to the current folder);
// an empty path is a new log in the user's temporary folder named
// "<stem>-<yyyyMMdd-HHmmss>.log". True when a log is open, at
// InstallLogPath(); false, with the reason in GetLastError, when none
// could be made (the run goes on without one).
bool OpenInstallLog(const std::wstring& path, const std::wstring& stem);

// Takes over a log another process opened and passed down (the
// uninstaller's copy): used only when handle is an open disk file.
bool AdoptInstallLog(HANDLE handle);

// The open log's file handle (null when none is open), for handing down.
HANDLE InstallLogHandle();

// Where the open log lies; empty when none is open.
std::wstring InstallLogPath();

// Writes one line with the local time before it; nothing without a log.
// Safe from any thread: lines arrive whole and in the order written.
void LogLine(const std::wstring& text);

// A failure's line: what failed, then "Win32 error N: <the system's text>"
// for error (nothing about an error for ERROR_SUCCESS).
void LogFailure(const std::wstring& what, DWORD error);

// The system's text for a Win32 error, without its line end.
std::wstring Win32ErrorText(DWORD error);

// A product's name as a file name: every character Windows refuses in a
// name becomes '_'; "setup" when nothing is left.
std::wstring LogNameStem(const std::wstring& name);

// Starts the log a program's command line asked for (/LOG, /LOG=path): at
// path, or when it is empty a new log named after the product and task
// ("<product>-setup-<time>.log"; the program's own name without the product),
// which opens with LogRunHeader and the run's mode ("silent (/S)" when
// silent, else interactiveMode). A log that cannot be made is no reason to
// stop: the run goes on without one.
void StartInstallLog(const std::wstring& path, const std::wstring& program, const std::wstring& task,
                     const std::wstring& product, const std::wstring& version, bool silent,
                     const std::wstring& interactiveMode);

// The lines every log opens with: which program (program, e.g.
// "setup.exe") ran from where with which command line, the product and its
// version, and the system: its version as it reports it and as the
// installer names it, and its ANSI and OEM code pages.
void LogRunHeader(const std::wstring& program, const std::wstring& product, const std::wstring& version);
