// What an upgrade over an earlier installation has to change. The files of
// the new version that are already there byte for byte stay as they are and
// are not unpacked; the earlier version's other files (by its record: those
// it installed; without one, those at names the new version has) are moved
// aside, the player's data file stays, and the rest of the new version is
// unpacked into the staging folder and moved in. Everything else in the
// folder is the player's and stays where it is; a player's file at a name
// the new version brings is renamed beside it.
#pragma once

#include "engine/install_journal.h"
#include "package/package.h"
#include "system/install_record.h"
#include "system/unique_handle.h"

#include <functional>
#include <string>
#include <vector>

struct UpgradePlan {
    // By archive entry: already in place, neither unpacked nor moved.
    std::vector<bool> keep;
    InPlaceChanges changes;
    // The earlier version's folders the new one does not have, parents
    // first: removed once the run is committed, if nothing of the player's
    // is left in them.
    std::vector<std::wstring> droppedFolders;
    // Entries of the player's in the product's folders, left untouched.
    size_t playerEntries = 0;
    // The files kept, held without write or delete sharing from the check
    // on (FindEntriesInPlace), so that what stays is what was checked.
    std::vector<UniqueFile> keptHolds;
};

// The name beside relative that a player's file takes when the new version
// brings a file of its name: "<name>.player", or "<name>.player2" and on
// when that is taken too. taken tells whether a name is in use.
std::wstring PlayerCopyName(const std::wstring& relative, const std::function<bool(const std::wstring&)>& taken);

// The record of the installation that entries make at installDir.
InstallRecord RecordOf(const std::wstring& installDir, const std::vector<ArchiveEntry>& entries);

// Plans the upgrade of the earlier installation at installDir to entries, of
// which inPlace tells the files installDir already holds (FindEntriesInPlace).
// previous is the earlier installation's record (null: it has none).
// userDataFile (relative; may be empty) stays whatever it holds. The folder
// is walked through held handles, never into a link, and only where the
// product has folders. False when an entry the run must move cannot be
// reached through a checked handle (a link this system follows, a folder
// that cannot be listed).
bool PlanUpgrade(const std::wstring& installDir, const std::vector<ArchiveEntry>& entries,
                 const std::vector<bool>& inPlace, const std::wstring& userDataFile, const InstallRecord* previous,
                 UpgradePlan* plan);

// Whether a program holds one of the entries at paths (relative to
// installDir) open, or anything in one that is a folder.
bool AnyInUse(const std::wstring& installDir, const std::vector<std::wstring>& paths);
