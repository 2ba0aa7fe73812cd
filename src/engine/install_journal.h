// What a run keeps of the earlier installation until the new one is
// complete, on disk, so that a failure, a cancel or a killed process can
// put everything back.
//
// The aside folder lies beside the installation folder, named after it with
// ".old" (or ".old1", ...) appended, and is marked as ours by a tag file
// that names the installation folder; nothing unmarked is ever taken. It
// holds the earlier installation, moved in whole, and one record per thing
// outside the folder that the run replaces (a link file, the program group,
// the uninstall entry), each written completely before the replacement.
// Undoing restores the records in reverse order, removes the run's own
// installation, moves the earlier one back and deletes the aside folder,
// its tag last; each step may be repeated, so an undo that was itself cut
// short is finished by the next run. A done tag, written once the last step
// has succeeded, turns the undo into plain deletion of what was kept.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The staging folder's tag: the folder and, after the rename into place,
// the installation folder hold it until the run is committed.
inline constexpr const wchar_t* kStagingTag = L"~setup-staging.tag";

// The slots of the records, in the order the run replaces things.
enum class KeptSlot { kDesktopLink = 1, kProgramGroup, kGroupMainLink, kGroupRepairLink, kUninstallEntry };

class InstallJournal {
public:
    // Makes a new aside folder for installDir and tags it. Empty when it
    // could not be made (the reason is in GetLastError).
    static std::wstring Create(const std::wstring& installDir);

    // The tagged aside folders of installDir that runs left behind.
    static std::vector<std::wstring> Find(const std::wstring& installDir);

    // Moves installDir into the aside folder. False when it could not.
    static bool MoveAside(const std::wstring& aside, const std::wstring& installDir);

    // Keeps what is at path before the run replaces it: the file's bytes, a
    // folder's existence, or a key's values under HKEY_LOCAL_MACHINE (path
    // is then the key's path); or that nothing was there. False when the
    // record could not be written: the caller must not replace anything.
    static bool KeepFile(const std::wstring& aside, KeptSlot slot, const std::wstring& path);
    static bool KeepFolder(const std::wstring& aside, KeptSlot slot, const std::wstring& path);
    static bool KeepKey(const std::wstring& aside, KeptSlot slot, const std::wstring& keyPath);

    // Marks the run complete and deletes what was kept; the installation
    // folder loses its staging tag. False when the aside folder remains (a
    // later run deletes it).
    static bool Commit(const std::wstring& aside, const std::wstring& installDir);

    // Puts back what the aside folder kept and deletes it; after a commit,
    // only finishes the deletion. False when something could not be put back
    // (a file of the run's installation in use): the aside folder then stays
    // for a later run.
    static bool Undo(const std::wstring& aside, const std::wstring& installDir);

    // The earlier installation's place inside an aside folder.
    static std::wstring KeptInstallation(const std::wstring& aside);
};

// Puts back what runs stopped from outside left for installDir (a
// normalized installation folder): the earlier installation in its place,
// its shortcuts, group and uninstall entry as they were. False when an
// earlier installation is still held aside (a file of the stopped run's
// version in use); the next attempt tries again.
bool RecoverInterruptedInstall(const std::wstring& installDir);

// Deletes a folder of ours so that its tag goes last: a cut-short deletion
// leaves either the tag or an empty folder. 1 when nothing of it remains.
int DeleteTaggedFolder(const std::wstring& folder, const wchar_t* tag);

// Empties a tagged folder but keeps the folder and its tag.
int EmptyTaggedFolder(const std::wstring& folder, const wchar_t* tag);
