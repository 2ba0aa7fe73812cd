// The player: the user whose interactive shell owns this desktop's shell
// window, who started setup. setup.exe and uninst.exe run elevated, often
// with an administrator's password typed for a standard account; what is
// the player's (the program started at Finish, the address opened there,
// the desktop shortcut and the program group) goes to the player, never to
// the elevated token.
//
// The player is taken as the shell's token (the shell window, its process,
// that process's token duplicated as a primary token), not as an unelevated
// parent process (PROC_THREAD_ATTRIBUTE_PARENT_PROCESS):
//   - the one token answers both questions, who starts the program and where
//     the player's profile is (SHGetKnownFolderPath with a token), so the
//     shortcuts and the start can never disagree about who the player is;
//   - a child of an adopted parent inherits the caller's environment block,
//     which is the administrator's (USERPROFILE, APPDATA, TEMP): the game
//     would keep its saves in the wrong profile unless the player's block
//     were built from the token anyway;
//   - CreateProcessWithTokenW needs only SeImpersonatePrivilege, which an
//     elevated administrator holds, not SeAssignPrimaryTokenPrivilege as
//     CreateProcessAsUserW does, and starts the program with the player's own
//     environment (CreateEnvironmentBlock, nothing inherited from setup).
// When there is no shell window (a service, a session without a desktop
// shell, the shell ended) there is no player: nothing is started, and the
// folders are those of the token this process runs with.
#pragma once

#include "system/unique_handle.h"

#include <windows.h>

#include <string>

// A primary token of the process that owns the shell window, with the access
// starting a program and reading its profile need. False when there is no
// shell window or its process or token cannot be opened (an administrator
// may open another account's shell only with SeDebugPrivilege, which is
// enabled for the open on this thread alone).
bool OpenShellUserToken(UniqueHandle* token);

enum class PlayerFolder { kDesktop, kPrograms };

// The folder in the player's profile (from the shell's token), or, when no
// player can be had, in the profile of the token this process runs with;
// fromShell, when given, tells which. Empty when neither has the folder.
// The one place the shortcuts' folders come from: the run, its journal, the
// rollback and the uninstaller all ask here.
std::wstring PlayerFolderPath(PlayerFolder folder, bool* fromShell = nullptr);

// How a program was started for the player.
enum class PlayerStart {
    kNotStarted,  // no player token, or the start failed: nothing runs
    kDirect,      // CreateProcessWithTokenW with the player's token
    kThroughShellExecute,  // the program asks for elevation in its manifest: the
                           // player's own ShellExecute (rundll32 as the player) starts it,
                           // so the system asks the player
};

// Starts program (a full path) without arguments in workingFolder as the
// player: their token, their environment, never this process's elevation.
PlayerStart StartForPlayer(const std::wstring& program, const std::wstring& workingFolder);

// Opens address as the player would by typing it into Run: the player's own
// rundll32 hands it to the shell's ShellExecute, so the browser starts as
// the player and verbs resolve through the player's classes, not through an
// elevated process. False, opening nothing, when no player can be had.
bool OpenAddressForPlayer(const std::wstring& address);
