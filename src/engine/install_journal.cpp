#include "engine/install_journal.h"

#include "config/config.h"
#include "package/package.h"
#include "system/byte_record.h"
#include "system/file_ops.h"
#include "system/held_tree.h"
#include "system/install_record.h"
#include "system/paths.h"
#include "system/private_folder.h"
#include "system/registry_snapshot.h"
#include "system/shortcuts.h"
#include "system/tagged_folder.h"
#include "system/uninstall.h"
#include "system/unique_handle.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <cwctype>
#include <string_view>

namespace {

constexpr const wchar_t* kAsideTag = L"~setup-aside.tag";
constexpr const wchar_t* kAsideTagPart = L"~setup-aside.part";
constexpr const wchar_t* kDoneTag = L"~setup-done.tag";
constexpr const wchar_t* kKeptInstallation = L"install";
constexpr const wchar_t* kChangesRecord = L"changes.rec";
// More entries than any product has; a record claiming more was not ours.
constexpr uint32_t kMaxChangedEntries = 1u << 20;
// A link file, a tag or an installation's record is small; anything larger
// was not written by a run.
constexpr size_t kMaxRecordBytes = kMaxInstallRecordBytes;
// Sharing while a run holds its aside folder: records are written and the
// installation moved in and out, but nobody can rename or delete it.
constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

enum class RecordKind : uint32_t { kFile = 1, kFolder = 2, kKey = 3 };

RecordKind KindOf(KeptSlot slot)
{
    switch (slot) {
    case KeptSlot::kProgramGroup:
        return RecordKind::kFolder;
    case KeptSlot::kUninstallEntry:
        return RecordKind::kKey;
    default:
        return RecordKind::kFile;
    }
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Moves relative from one held tree to the same place in another.
bool MoveBetween(HeldTree& from, HeldTree& to, const std::wstring& relative)
{
    std::wstring name;
    const HeldFolder* source = from.FolderOf(relative, &name);
    const HeldFolder* target = source ? to.Folder(ParentOf(relative)) : nullptr;
    return target && MoveChild(*source, name, *target, name);
}

bool HasEntry(HeldTree& tree, const std::wstring& relative)
{
    std::wstring name;
    const HeldFolder* folder = tree.FolderOf(relative, &name);
    return folder && HoldsTag(*folder, name.c_str());
}

std::string ChangesRecord(const InPlaceChanges& changes)
{
    std::string record;
    for (const auto* list : {&changes.movedAside, &changes.addedFolders, &changes.addedFiles}) {
        PutU32(record, static_cast<uint32_t>(list->size()));
        for (const std::wstring& path : *list)
            PutText(record, path);
    }
    PutU32(record, static_cast<uint32_t>(changes.keptBeside.size()));
    for (const KeptBeside& beside : changes.keptBeside) {
        PutText(record, beside.from);
        PutText(record, beside.to);
    }
    return record;
}

bool IsRecordedPath(const std::wstring& path)
{
    return IsSafeEntryName(path.c_str()) && path.find(L'/') == std::wstring::npos;
}

// Renames relative (a file or a link itself) to newRelative in the same
// held tree.
bool RenameWithin(HeldTree& tree, const std::wstring& relative, const std::wstring& newRelative)
{
    std::wstring name;
    std::wstring newName;
    const HeldFolder* from = tree.FolderOf(relative, &name);
    const HeldFolder* to = from ? tree.FolderOf(newRelative, &newName) : nullptr;
    return to && MoveChild(*from, name, *to, newName);
}

std::wstring RecordName(KeptSlot slot) { return L"kept-" + std::to_wstring(static_cast<int>(slot)) + L".rec"; }

std::string RecordHead(RecordKind kind, bool existed, const std::wstring& path)
{
    std::string record;
    PutU32(record, static_cast<uint32_t>(kind));
    PutU32(record, existed ? 1 : 0);
    PutText(record, path);
    return record;
}

std::string OwnerText(const std::wstring& installDir)
{
    return std::string(reinterpret_cast<const char*>(installDir.data()), installDir.size() * sizeof(wchar_t));
}

// A folder that a run made, removed only while empty; a link there is
// removed itself.
bool RemoveFolderIfEmpty(const std::wstring& path)
{
    bool kept = false;
    return DeleteFolderIfEmpty(path, &kept) || kept;
}

// A folder whose only content is a tag being written, or nothing: what a
// run left when it was stopped while making its aside folder, or after
// deleting its tag and before the folder itself.
bool HoldsNothingOfValue(const HeldFolder& folder)
{
    std::vector<FolderEntry> entries;
    return ListFolder(folder, &entries) &&
           (entries.empty() || (entries.size() == 1 && SameText(entries[0].name, kAsideTagPart)));
}

bool TaggedFor(const HeldFolder& aside, const std::wstring& installDir)
{
    std::string tag;
    return ReadChildFile(aside, kAsideTag, 64 * 1024, &tag) && tag.size() % sizeof(wchar_t) == 0 &&
           SameText(std::wstring(reinterpret_cast<const wchar_t*>(tag.data()), tag.size() / sizeof(wchar_t)),
                    installDir);
}

}  // namespace

KeptPlaces KeptPlaces::Of(const Configuration& configuration)
{
    const std::wstring mainLink = configuration.Setting(kKeyExeLink);
    const std::wstring repairLink = configuration.Setting(kKeyRepairExeLink);
    const std::wstring group = configuration.Setting(kKeyDisplayName);
    KeptPlaces places;
    places.desktopLink = DesktopShortcutPath(mainLink.c_str());
    places.programGroup = ProgramGroupFolder(nullptr, group.c_str());
    places.groupMainLink = GroupShortcutPath(nullptr, group.c_str(), mainLink.c_str());
    places.groupRepairLink = GroupShortcutPath(nullptr, group.c_str(), repairLink.c_str());
    places.uninstallKey = UninstallKeyPath(group);
    places.installRecord = InstallRecordPath(group);
    return places;
}

const std::wstring& KeptPlaces::For(KeptSlot slot) const
{
    switch (slot) {
    case KeptSlot::kDesktopLink:
        return desktopLink;
    case KeptSlot::kProgramGroup:
        return programGroup;
    case KeptSlot::kGroupMainLink:
        return groupMainLink;
    case KeptSlot::kGroupRepairLink:
        return groupRepairLink;
    case KeptSlot::kInstallRecord:
        return installRecord;
    case KeptSlot::kUninstallEntry:
        break;
    }
    return uninstallKey;
}

InstallJournal::InstallJournal(std::wstring path, std::wstring installDir, KeptPlaces places, HeldFolder folder)
    : path_(std::move(path)), installDir_(std::move(installDir)), places_(std::move(places)),
      folder_(std::move(folder))
{
}

InstallJournal::~InstallJournal() = default;

std::wstring InstallJournal::KeptInstallation() const { return JoinPath(path_, kKeptInstallation); }

bool InstallJournal::HasChild(const wchar_t* name) const { return HoldsTag(folder_, name); }

bool InstallJournal::Committed() const { return HasChild(kDoneTag); }

std::unique_ptr<InstallJournal> InstallJournal::Create(const std::wstring& installDir, const KeptPlaces& places)
{
    // Made through a hold on the folder above and held from the moment it
    // exists: nobody can put another folder or a link in its place between
    // making it and writing its tag.
    HeldFolder parent;
    if (!OpenFolderAsIs(ParentOf(installDir), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &parent))
        return nullptr;
    for (int n = 0; n < 1000; ++n) {
        const std::wstring aside = installDir + L".old" + (n > 0 ? std::to_wstring(n) : L"");
        HeldFolder folder;
        if (!MakePrivateChildFolder(parent, NameOf(aside), kHoldSharing, &folder)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return nullptr;
        }
        // The tag goes in under a name of its own first: a folder holding
        // only that is recognised as a cut-short start and removed.
        const bool tagged = WriteNewChildFile(folder, kAsideTagPart, OwnerText(installDir), FILE_ATTRIBUTE_HIDDEN) &&
                            MoveChild(folder, kAsideTagPart, folder, kAsideTag);
        if (!tagged) {
            const DWORD error = ::GetLastError();
            DeleteChild(folder, kAsideTagPart);
            folder.handle.reset();
            DeleteFolderIfEmpty(aside);
            ::SetLastError(error);
            return nullptr;
        }
        return std::unique_ptr<InstallJournal>(new InstallJournal(aside, installDir, places, std::move(folder)));
    }
    ::SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
}

std::vector<std::unique_ptr<InstallJournal>> InstallJournal::Find(const std::wstring& installDir,
                                                                  const KeptPlaces& places)
{
    std::vector<std::unique_ptr<InstallJournal>> found;
    const std::wstring parent = ParentOf(installDir);
    if (parent.empty())
        return found;
    const std::wstring stem = NameOf(installDir) + L".old";
    std::vector<std::wstring> names;
    ForEachChild(parent, [&](const WIN32_FIND_DATAW& data) {
        names.push_back(data.cFileName);
        return true;
    });
    for (const std::wstring& name : names) {
        if (name.size() < stem.size() || !SameText(name.substr(0, stem.size()), stem))
            continue;
        bool digits = true;
        for (size_t i = stem.size(); i < name.size(); ++i)
            digits = digits && std::iswdigit(name[i]);
        if (!digits)
            continue;
        const std::wstring aside = JoinPath(parent, name);
        // Only a plain folder that only an administrator could have made.
        HeldFolder folder;
        if (!OpenFolderNoFollow(aside, kHoldSharing, &folder) || !IsOwnedAsPrivate(folder))
            continue;
        if (TaggedFor(folder, installDir)) {
            found.push_back(
                std::unique_ptr<InstallJournal>(new InstallJournal(aside, installDir, places, std::move(folder))));
        } else if (HoldsNothingOfValue(folder)) {
            DeleteChild(folder, kAsideTagPart);
            folder.handle.reset();
            RemoveFolderIfEmpty(aside);
        }
    }
    return found;
}

bool InstallJournal::MoveAside()
{
    return ::MoveFileExW(installDir_.c_str(), KeptInstallation().c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

// A record is written once: the first one holds what was there before the run.
bool InstallJournal::KeepRecord(KeptSlot slot, const std::string& record)
{
    return KeepRecordNamed(RecordName(slot), record);
}

bool InstallJournal::KeepRecordNamed(const std::wstring& name, const std::string& record)
{
    // Written in full and flushed before it is given its name, so a record
    // that exists is a whole one.
    return HasChild(name.c_str()) || WriteChildFileReplacing(folder_, name, record);
}

bool InstallJournal::MoveAsideChanged(const InPlaceChanges& changes)
{
    if (!KeepRecordNamed(kChangesRecord, ChangesRecord(changes)))
        return false;
    HeldFolder install;
    HeldFolder kept;
    if (!OpenFolderNoFollow(installDir_, kHoldSharing, &install) ||
        !MakeChildFolder(folder_, kKeptInstallation, kHoldSharing, &kept))
        return false;
    HeldTree installed(install, kHoldSharing);
    HeldTree aside(kept, kHoldSharing, true);
    for (const KeptBeside& beside : changes.keptBeside) {
        if (!RenameWithin(installed, beside.from, beside.to))
            return false;
    }
    for (const std::wstring& path : changes.movedAside) {
        if (!MoveBetween(installed, aside, path))
            return false;
    }
    return true;
}

bool InstallJournal::MoveInChanged(const InPlaceChanges& changes, const std::wstring& stagingDir)
{
    HeldFolder staging;
    return OpenFolderNoFollow(stagingDir, kHoldSharing, &staging) && MoveInChanged(changes, staging);
}

bool InstallJournal::MoveInChanged(const InPlaceChanges& changes, const HeldFolder& staging)
{
    HeldFolder install;
    if (!OpenFolderNoFollow(installDir_, kHoldSharing, &install))
        return false;
    HeldTree installed(install, kHoldSharing, true);
    HeldTree staged(staging, kHoldSharing);
    for (const std::wstring& path : changes.addedFolders) {
        if (!installed.Folder(path))
            return false;
    }
    for (const std::wstring& path : changes.addedFiles) {
        if (!MoveBetween(staged, installed, path))
            return false;
    }
    return true;
}

bool InstallJournal::ReadChanges(InPlaceChanges* changes) const
{
    std::string bytes;
    if (!ReadChildFile(folder_, kChangesRecord, kMaxRecordBytes * 4, &bytes))
        return false;
    ByteReader reader(bytes);
    for (auto* list : {&changes->movedAside, &changes->addedFolders, &changes->addedFiles}) {
        uint32_t count = 0;
        if (!reader.U32(&count) || count > kMaxChangedEntries)
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            std::wstring path;
            // Only paths inside the installation folder, as a run writes them.
            if (!reader.Text(&path) || !IsRecordedPath(path))
                return false;
            list->push_back(std::move(path));
        }
    }
    uint32_t count = 0;
    if (!reader.U32(&count) || count > kMaxChangedEntries)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        KeptBeside beside;
        if (!reader.Text(&beside.from) || !reader.Text(&beside.to) || !IsRecordedPath(beside.from) ||
            !IsRecordedPath(beside.to))
            return false;
        changes->keptBeside.push_back(std::move(beside));
    }
    return reader.AtEnd();
}

bool InstallJournal::UndoInPlace(const InPlaceChanges& changes)
{
    // What was moved aside goes back even when the rest of the installation
    // was deleted meanwhile.
    HeldFolder install;
    if (!OpenFolderNoFollow(installDir_, kHoldSharing, &install)) {
        const DWORD error = ::GetLastError();
        if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ||
            !CreateFolderTree(installDir_.c_str()) || !OpenFolderNoFollow(installDir_, kHoldSharing, &install))
            return false;
    }
    HeldFolder kept;
    const bool haveKept = OpenChildFolder(folder_, kKeptInstallation, kHoldSharing, &kept);
    HeldTree aside(kept, kHoldSharing);
    std::set<std::wstring> movedAside;
    for (const std::wstring& path : changes.movedAside)
        movedAside.insert(TextKey(path));
    // A player's file that is still at its own name was never renamed: what
    // is there is the player's, not the run's.
    HeldTree installed(install, kHoldSharing);
    std::set<std::wstring> notRenamed;
    for (const KeptBeside& beside : changes.keptBeside) {
        if (!HasEntry(installed, beside.to))
            notRenamed.insert(TextKey(beside.from));
    }
    // What the run put in goes first, files before the folders that hold
    // them; where the earlier entry of that name was never moved aside, what
    // is there is still the earlier one.
    bool ok = true;
    for (auto it = changes.addedFiles.rbegin(); it != changes.addedFiles.rend(); ++it) {
        const std::wstring key = TextKey(*it);
        if ((movedAside.count(key) && !(haveKept && HasEntry(aside, *it))) || notRenamed.count(key))
            continue;
        std::wstring name;
        if (const HeldFolder* folder = installed.FolderOf(*it, &name))
            ok = DeleteChild(*folder, name) && ok;
    }
    // A folder the run made goes only once empty: the player may have put
    // something in it since a run that was stopped.
    for (auto it = changes.addedFolders.rbegin(); it != changes.addedFolders.rend(); ++it) {
        if (movedAside.count(TextKey(*it)))
            continue;
        // Let go first: a hold on the folder would keep it from being
        // deleted.
        installed.Release(*it);
        std::wstring name;
        if (const HeldFolder* folder = installed.FolderOf(*it, &name))
            ok = RemoveChildFolderIfEmpty(*folder, name) && ok;
    }
    for (auto it = changes.keptBeside.rbegin(); it != changes.keptBeside.rend(); ++it) {
        if (!notRenamed.count(TextKey(it->from)))
            ok = RenameWithin(installed, it->to, it->from) && ok;
    }
    if (!haveKept)
        return ok;
    HeldTree restored(install, kHoldSharing, true);
    for (auto it = changes.movedAside.rbegin(); it != changes.movedAside.rend(); ++it) {
        if (HasEntry(aside, *it))
            ok = MoveBetween(aside, restored, *it) && ok;
    }
    return ok;
}

bool InstallJournal::KeepFile(KeptSlot slot)
{
    const std::wstring& path = places_.For(slot);
    if (path.empty() || KindOf(slot) != RecordKind::kFile)
        return false;
    std::string content;
    bool existed = ReadFileNoFollow(path, kMaxRecordBytes, &content);
    if (!existed) {
        const DWORD error = ::GetLastError();
        // A link or a folder in the link file's place is not read through.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_CANT_ACCESS_FILE)
            return false;
        content.clear();
    }
    return KeepRecord(slot, RecordHead(RecordKind::kFile, existed, path) + content);
}

bool InstallJournal::KeepFolder(KeptSlot slot)
{
    const std::wstring& path = places_.For(slot);
    if (path.empty() || KindOf(slot) != RecordKind::kFolder)
        return false;
    return KeepRecord(slot, RecordHead(RecordKind::kFolder, IsFolder(path), path));
}

bool InstallJournal::KeepKey(KeptSlot slot)
{
    const std::wstring& keyPath = places_.For(slot);
    if (keyPath.empty() || KindOf(slot) != RecordKind::kKey)
        return false;
    bool existed = false;
    std::string values;
    if (!SnapshotKey(HKEY_LOCAL_MACHINE, keyPath, &existed, &values))
        return false;
    std::string record = RecordHead(RecordKind::kKey, existed, keyPath) + values;
    return KeepRecord(slot, record);
}

bool InstallJournal::RestoreRecord(KeptSlot slot)
{
    std::string bytes;
    if (!ReadChildFile(folder_, RecordName(slot), kMaxRecordBytes, &bytes))
        return !HasChild(RecordName(slot).c_str());
    ByteReader reader(bytes);
    uint32_t kind = 0;
    uint32_t existed = 0;
    std::wstring path;
    // Only what this slot's step keeps for this product, at its own place:
    // a record naming anything else was not written by a run of ours.
    if (!reader.U32(&kind) || !reader.U32(&existed) || existed > 1 || !reader.Text(&path) ||
        static_cast<RecordKind>(kind) != KindOf(slot) || path.empty() || !SameText(path, places_.For(slot)))
        return true;
    const std::wstring& place = places_.For(slot);
    switch (KindOf(slot)) {
    case RecordKind::kFile:
        if (!existed)
            return DeleteFileNoFollow(place);
        // The player's folders: made without following a link on the way,
        // and the file written through the hold that walk ends on.
        {
            HeldFolder folder;
            return MakeFolderNoFollow(ParentOf(place), &folder) &&
                   WriteChildFileReplacing(folder, NameOf(place), std::string(reader.Rest()));
        }
    case RecordKind::kFolder:
        if (existed)
            return MakeFolderNoFollow(place);
        return RemoveFolderIfEmpty(place);
    case RecordKind::kKey:
        return RestoreKey(HKEY_LOCAL_MACHINE, place, existed != 0, reader.Rest());
    }
    return false;
}

bool InstallJournal::DeleteAside()
{
    // The done tag outlasts what it speaks for.
    return DeleteHeldTaggedFolder(std::move(folder_), path_, {kDoneTag, kAsideTag});
}

bool InstallJournal::Commit()
{
    if (!HasChild(kDoneTag) && !WriteNewChildFile(folder_, kDoneTag, {}))
        return false;
    // Until the tag is gone the installation would count as the run's own;
    // the aside folder, marked done, stays for the next run to finish this.
    const std::wstring stagingTag = JoinPath(installDir_, kStagingTag);
    if (!DeleteFileNoFollow(stagingTag))
        return false;
    return DeleteAside();
}

bool InstallJournal::Undo()
{
    if (Committed())
        return Commit();

    bool restored = true;
    for (int slot = static_cast<int>(KeptSlot::kInstallRecord); slot >= static_cast<int>(KeptSlot::kDesktopLink);
         --slot) {
        if (!RestoreRecord(static_cast<KeptSlot>(slot)))
            restored = false;
    }

    // An upgrade in place puts back entry by entry what it changed.
    if (InPlaceChanges changes; ReadChanges(&changes)) {
        if (!UndoInPlace(changes) || !restored)
            return false;
        return DeleteAside();
    }

    // The run's own installation is the one that holds the staging tag;
    // anything else in its place stays, and then so does the earlier one.
    const std::wstring kept = KeptInstallation();
    const bool keptExists = IsFolder(kept);
    if (HeldFolder current; OpenFolderNoFollow(installDir_, kHoldSharing, &current) &&
                            HoldsTag(current, kStagingTag)) {
        if (!DeleteHeldTaggedFolder(std::move(current), installDir_, {kDoneTag, kStagingTag}))
            return false;
    }
    if (keptExists && !::MoveFileExW(kept.c_str(), installDir_.c_str(), MOVEFILE_WRITE_THROUGH))
        return false;
    if (!restored)
        return false;
    return DeleteAside();
}

bool RecoverInterruptedInstall(const std::wstring& installDir, const KeptPlaces& places)
{
    // A run killed a moment ago may still hold its files while the system
    // tears its process down: what cannot be put back at once is tried
    // again a few times before it is left for a later run.
    bool recovered = true;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0)
            ::Sleep(200);
        recovered = true;
        bool finished = true;
        for (const auto& journal : InstallJournal::Find(installDir, places)) {
            // What a committed run kept is only left to delete: should that
            // fail, it stands in nobody's way.
            const bool committed = journal->Committed();
            if (!journal->Undo()) {
                finished = false;
                if (!committed && IsFolder(journal->KeptInstallation()))
                    recovered = false;
            }
        }
        if (finished)
            break;
    }
    return recovered;
}
