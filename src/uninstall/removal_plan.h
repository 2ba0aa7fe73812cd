// What the uninstaller removes of an installation: worked out first,
// touching nothing, then carried out. Nothing here asks or shows anything;
// the program's entry asks the user, carries the plan out and tells how it
// ended.
//
// What a removal takes, from what the installation left:
//   - the registration: each entry under HKLM's Uninstall key whose
//     UninstallString names the uninstaller (case ignored). The entry's key
//     name is the product's display name, which is also the program group's
//     name. Without one the installation is not removed: the path comes on
//     the command line from whoever started the copy, and only an entry
//     (which only an administrator can write) makes it an installation;
//   - the program group: the folder of that name in the player's Start-menu
//     Programs folder (shell_user.h), and the one the record names: its
//     links into the installation folder, then the group once empty (what
//     the player put in it stays, and the group with it);
//   - desktop shortcuts: every .lnk on the player's desktop whose target lies in
//     the installation folder (the shortcut's own name is not needed), and
//     the one the record names, where the installation made it, when it is
//     such a link;
//   - the installation's files: those its record lists (the user data file
//     only when it is not kept), then the product's folders once empty and
//     the installation folder once empty, never following a link out of it.
//     Everything else in the folder is the player's and stays, and so does
//     the folder with it; an installation without a record (made by an older
//     installer) keeps its folder whole. The installer's own guards apply: a
//     drive root, a system or user folder, or a folder without the product's
//     main program is refused and nothing is removed.
#pragma once

#include "uninstall/hand_over.h"

#include <string>
#include <vector>

// The settings of the product's configuration a removal needs; the paths
// are relative to the installation folder, with backslashes.
struct ProductSettings {
    std::wstring displayName;
    std::wstring uninstaller;   // where the uninstaller lies (OBJ_IN_UNINSTALL_EXE)
    std::wstring mainProgram;   // OBJ_IN_EXE: empty when the configuration is missing
    std::wstring userDataFile;  // OBJ_IN_USERDATA_FILE
};

// An entry in the system's list of programs that names the uninstaller.
struct Registration {
    std::wstring keyName;      // the display name, and the program group's name
    std::wstring displayName;  // as shown to the user
};

// Every entry under HKLM's Uninstall key whose UninstallString (quoted or
// not, arguments ignored) is the program at uninstaller, in long form with
// case ignored. Empty when there is none or the key cannot be read.
std::vector<Registration> FindRegistrations(const std::wstring& uninstaller);

// The installation folder of the uninstaller at path: the folder it lies in
// at the place the configuration names (tools\Uninstall.exe lies one level
// down), or the folder it lies in when it has another name.
std::wstring InstallFolderOf(const std::wstring& path, const ProductSettings& product);

// How a removal ended; the value is the uninstaller's exit code.
enum class RemovalOutcome {
    Removed = 0,          // everything in the plan is gone
    SomethingLeft = 1,    // every step was tried, some failed
    FolderRefused = 2,    // not an installation of this product: nothing removed
    NoConfiguration = 3,  // the program carries no configuration: nothing removed
};

struct RemovalPlan {
    std::wstring uninstaller;                    // the original's file, moved out before the folder goes
    std::wstring installFolder;                  // normalized; also set when the folder is refused
    std::wstring keep;                           // the user data file that stays (full path); empty: none
    std::vector<std::wstring> desktopShortcuts;  // links on the desktop into the folder
    std::vector<Registration> registrations;     // each goes with the program group of its key's name
    std::wstring recordPath;                     // the installation's record
    bool recorded = false;                       // the record read back: files and folders are the product's
    std::vector<std::wstring> files;             // relative to installFolder
    std::vector<std::wstring> folders;           // relative, parents first
    std::wstring recordedGroup;                  // the program group where the record says it was made
};

// Works out the removal of the installation of the uninstaller at path
// uninstaller, touching nothing. False when nothing may be removed, with
// *refusal NoConfiguration (no main program configured) or FolderRefused
// (no entry names the uninstaller, or the folder fails the installer's
// guards); plan->installFolder is set for the refusal's text.
bool PlanRemoval(const ProductSettings& product, const std::wstring& uninstaller, bool keepUserData,
                 RemovalPlan* plan, RemovalOutcome* refusal);

// Carries out a plan PlanRemoval made: the desktop shortcuts, each entry's
// program group and the entry, the original's file out of the folder
// (through original; nothing when none waits), then the product's files and
// folders and the record. Every step is tried whatever the ones before did:
// Removed when all succeeded, else SomethingLeft. *folderKept (when not
// null) tells whether the installation folder is still there afterwards,
// with what of the player's it holds.
RemovalOutcome CarryOut(const RemovalPlan& plan, Original* original, bool* folderKept = nullptr);
