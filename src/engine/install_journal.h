// What a run keeps of the earlier installation until the new one is
// complete, on disk, so that a failure, a cancel or a killed process can
// put everything back.
//
// The aside folder lies beside the installation folder, named after it with
// ".old" (or ".old1", ...) appended. It is made new with an access list of
// its own (Administrators and SYSTEM only) and marked as ours by a tag file
// that names the installation folder; the run holds it open so that it
// cannot be renamed or replaced. It holds the earlier installation, moved in
// whole, and one record per thing outside the folder that the run replaces
// (a link file, the program group, the uninstall entry), each written
// completely before the replacement. Undoing restores the records in
// reverse order, removes the run's own installation, moves the earlier one
// back and deletes the aside folder, its tag last; each step may be
// repeated, so an undo that was itself cut short is finished by the next
// run. A done tag, written once the last step has succeeded, turns the undo
// into plain deletion of what was kept.
//
// A folder left by a stopped run is taken back only when it is a plain
// folder (not a link) owned by Administrators or SYSTEM, its tag names the
// installation folder, and each record is of the kind and names exactly the
// place that its slot's step keeps for this product; any other record is
// ignored and left.
#pragma once

#include "config/config.h"
#include "system/folder_handles.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// The staging folder's tag: the folder and, after the rename into place,
// the installation folder hold it until the run is committed.
inline constexpr const wchar_t* kStagingTag = L"~setup-staging.tag";

// The slots of the records, in the order the run replaces things.
enum class KeptSlot { kDesktopLink = 1, kProgramGroup, kGroupMainLink, kGroupRepairLink, kUninstallEntry, kInstallRecord };

// The places this product's steps replace outside the installation folder:
// what each slot's record may name, and nothing else.
struct KeptPlaces {
    std::wstring desktopLink;
    std::wstring programGroup;
    std::wstring groupMainLink;
    std::wstring groupRepairLink;
    std::wstring uninstallKey;   // under HKEY_LOCAL_MACHINE
    std::wstring installRecord;  // the installation's record (InstallRecordPath)

    // The places of the product the configuration describes.
    static KeptPlaces Of(const Configuration& configuration);
    const std::wstring& For(KeptSlot slot) const;
};

// A player's file at a name the new version brings: it stays in the
// installation under a name beside the product's file.
struct KeptBeside {
    std::wstring from;
    std::wstring to;
};

// What a run changes in an earlier installation that it upgrades in place:
// the product's entries it moves aside (replaced or no longer in the
// product), the player's files it renames out of the new version's way,
// then the folders it makes and the files it moves in from the staging
// folder. Paths are relative to the installation folder, parents before
// children. Nothing else in the installation is touched.
struct InPlaceChanges {
    std::vector<std::wstring> movedAside;
    std::vector<std::wstring> addedFolders;
    std::vector<std::wstring> addedFiles;
    std::vector<KeptBeside> keptBeside;

    bool Empty() const
    {
        return movedAside.empty() && addedFolders.empty() && addedFiles.empty() && keptBeside.empty();
    }
};

class InstallJournal {
public:
    ~InstallJournal();
    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;

    // Makes a new aside folder for installDir, tags it and holds it. Null
    // when it could not be made (the reason is in GetLastError).
    static std::unique_ptr<InstallJournal> Create(const std::wstring& installDir, const KeptPlaces& places);

    // The aside folders of installDir that stopped runs left behind and that
    // pass as ours, each held. Leftovers of a run stopped while it made its
    // folder (nothing in them but a tag being written) are removed.
    static std::vector<std::unique_ptr<InstallJournal>> Find(const std::wstring& installDir,
                                                             const KeptPlaces& places);

    const std::wstring& Path() const { return path_; }
    // The earlier installation's place inside the aside folder.
    std::wstring KeptInstallation() const;

    // Moves the installation folder into the aside folder. False when it
    // could not.
    bool MoveAside();

    // The upgrade in place, in two steps, each entry moved through a handle
    // on it and on the folders on its way, never following a link. False at
    // the first entry that could not be moved (the reason in GetLastError):
    // Undo puts back what was done.
    // Records changes, whole and flushed, before anything is changed; then
    // renames the player's files out of the way and moves each entry to be
    // moved aside into the aside folder.
    bool MoveAsideChanged(const InPlaceChanges& changes);
    // Makes the new folders and moves the new files in from stagingDir.
    bool MoveInChanged(const InPlaceChanges& changes, const std::wstring& stagingDir);
    // The same from the staging folder the run holds.
    bool MoveInChanged(const InPlaceChanges& changes, const HeldFolder& staging);

    // Keeps what is at the slot's place before the run replaces it: the
    // file's bytes, a folder's existence, or a key's values; or that nothing
    // was there. A link at a file's place is kept as nothing: its target is
    // never read. False when the record could not be written: the caller
    // must not replace anything.
    bool KeepFile(KeptSlot slot);
    bool KeepFolder(KeptSlot slot);
    bool KeepKey(KeptSlot slot);

    // Whether the run that made the folder was complete (its done tag).
    bool Committed() const;

    // Marks the run complete and deletes what was kept; the installation
    // folder loses its staging tag. False when the aside folder remains (a
    // later run deletes it).
    bool Commit();

    // Puts back what the aside folder kept and deletes it; after a commit,
    // only finishes the deletion. The installation folder is emptied only
    // when it holds the staging tag (it is the run's own). False when
    // something could not be put back (a file of the run's installation in
    // use): the aside folder then stays for a later run.
    bool Undo();

private:
    InstallJournal(std::wstring path, std::wstring installDir, KeptPlaces places, HeldFolder folder);
    bool KeepRecord(KeptSlot slot, const std::string& record);
    bool KeepRecordNamed(const std::wstring& name, const std::string& record);
    bool RestoreRecord(KeptSlot slot);
    bool HasChild(const wchar_t* name) const;
    bool DeleteAside();
    // The recorded changes of an upgrade in place; false when there are none
    // (the earlier installation was moved aside whole) or they do not read
    // back as a run of ours wrote them.
    bool ReadChanges(InPlaceChanges* changes) const;
    bool UndoInPlace(const InPlaceChanges& changes);

    std::wstring path_;
    std::wstring installDir_;
    KeptPlaces places_;
    HeldFolder folder_;
};

// Puts back what runs stopped from outside left for installDir (a
// normalized installation folder): the earlier installation in its place,
// its shortcuts, group and uninstall entry as they were. False when an
// earlier installation is still held aside (a file of the stopped run's
// version in use); the next attempt tries again.
bool RecoverInterruptedInstall(const std::wstring& installDir, const KeptPlaces& places);
