// What an upgrade over an earlier installation has to change. The files of
// the new version that are already there byte for byte stay as they are and
// are not unpacked; everything else the earlier installation holds (but the
// player's own data file) is moved aside, and the rest of the new version is
// unpacked into the staging folder and moved in.
#pragma once

#include "engine/install_journal.h"
#include "package/package.h"
#include "system/unique_handle.h"

#include <string>
#include <vector>

struct UpgradePlan {
    // By archive entry: already in place, neither unpacked nor moved.
    std::vector<bool> keep;
    InPlaceChanges changes;
    // The files kept, held without write or delete sharing from the check
    // on (FindEntriesInPlace), so that what stays is what was checked.
    std::vector<UniqueFile> keptHolds;
};

// Plans the upgrade of the earlier installation at installDir to entries, of
// which inPlace tells the files installDir already holds (FindEntriesInPlace).
// userDataFile (relative; may be empty) stays whatever it holds. The folder
// is walked through held handles, never into a link. False when it holds an
// entry that cannot be reached through a checked handle (a link this system
// follows, a folder that cannot be listed): then it is better replaced whole.
bool PlanUpgrade(const std::wstring& installDir, const std::vector<ArchiveEntry>& entries,
                 const std::vector<bool>& inPlace, const std::wstring& userDataFile, UpgradePlan* plan);

// Whether a program holds one of the entries at paths (relative to
// installDir) open, or anything in one that is a folder.
bool AnyInUse(const std::wstring& installDir, const std::vector<std::wstring>& paths);
