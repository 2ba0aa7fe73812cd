// The product's shortcuts for the player (see shell_user.h: the user whose
// shell runs on this desktop, not the elevated token setup runs with): one
// on the player's desktop and a program group under the player's Programs
// folder. After each link is written the shell is told, so the desktop and
// the menu show it at once.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

// What the create operations pass to NotifyShellCreated.
inline constexpr LONG kShortcutCreatedEvent = SHCNE_CREATE | SHCNE_INTERRUPT;

// Saves a shell link at linkPath that starts target with arguments (null:
// none set), in target's folder, in place of whatever file or link (itself)
// is there (WriteFileReplacing). 1 when the link file was saved; 0 for a
// null target or link path, a link path of 260 characters or more (it would
// have to be cut and so name another file), or when the link cannot be made
// or saved.
int CreateShortcut(const wchar_t* target, const wchar_t* linkPath, const wchar_t* arguments);

// The player's desktop folder + "\" + name + ".lnk"; empty when the
// desktop folder cannot be had.
std::wstring DesktopShortcutPath(const wchar_t* name);

// Programs folder + "\" + group + "\" + name + ".lnk"; empty when the
// Programs folder cannot be had, group is not a usable folder name (see
// CreateProgramGroup) or the group's folder would need 260 characters.
std::wstring GroupShortcutPath(HWND owner, const wchar_t* group, const wchar_t* name);

// Tells the shell about event on path and about an update of its folder.
// 1 when path is not null, else 0.
int NotifyShellCreated(LONG event, const wchar_t* path);

// Creates (replacing an existing one) the desktop shortcut name.lnk to
// target. False for a null argument or when the link cannot be saved.
bool CreateDesktopShortcut(const wchar_t* target, const wchar_t* name, const wchar_t* arguments);

// Creates the folder group under the Programs folder. True when it exists
// afterwards as a plain folder; false when the Programs folder
// cannot be had, group is empty, absolute or climbs out ("..", ":"), its
// folder would need 260 characters, or the folder cannot be made.
bool CreateProgramGroup(HWND owner, const wchar_t* group);

// Creates (replacing an existing one) name.lnk to target in the program
// group, which CreateProgramGroup must have made. False for a null argument,
// an unusable group or Programs folder, or when the link cannot be saved.
bool CreateGroupShortcut(HWND owner, const wchar_t* target, const wchar_t* group, const wchar_t* name,
                         const wchar_t* arguments);

// The program group's folder under the player's Programs folder; empty when it
// must not be acted on: no Programs folder, an unusable group name, or a path
// too long to hold whole.
std::wstring ProgramGroupFolder(HWND owner, const wchar_t* group);

// What a link file says, read through the shell's link object: its target
// as its item list names it (in UTF-16, as the shell starts it; the 8-bit
// copy a link also keeps loses what the ANSI code page cannot hold), its
// arguments and its working folder.
struct ShortcutInfo {
    std::wstring target;
    std::wstring arguments;
    std::wstring workingFolder;
};

// False when the file cannot be read as a link; info is then untouched.
bool ReadShortcut(const std::wstring& path, ShortcutInfo* info);
