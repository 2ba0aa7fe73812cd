#include "engine/install_changes.h"

#include "config/config.h"
#include "system/install_folder.h"
#include "system/folder_handles.h"
#include "system/paths.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace {

constexpr DWORD kWalkSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kAnySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

size_t Depth(const std::wstring& path) { return static_cast<size_t>(std::count(path.begin(), path.end(), L'\\')); }

// The new version's files by name and its folders, those that only hold
// files included, each under its name in capitals.
struct NewVersion {
    std::map<std::wstring, size_t> files;
    std::map<std::wstring, std::wstring> folders;

    explicit NewVersion(const std::vector<ArchiveEntry>& entries)
    {
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::wstring& name = entries[i].name;
            if (entries[i].isFolder)
                folders.emplace(TextKey(name), name);
            else
                files.emplace(TextKey(name), i);
            for (size_t slash = name.find(L'\\'); slash != std::wstring::npos; slash = name.find(L'\\', slash + 1))
                folders.emplace(TextKey(name.substr(0, slash)), name.substr(0, slash));
        }
    }
};

}  // namespace

std::wstring PlayerCopyName(const std::wstring& relative, const std::function<bool(const std::wstring&)>& taken)
{
    for (int n = 1;; ++n) {
        const std::wstring candidate = relative + L".player" + (n > 1 ? std::to_wstring(n) : std::wstring());
        if (!taken(candidate))
            return candidate;
    }
}

InstallRecord RecordOf(const std::wstring& installDir, const std::vector<ArchiveEntry>& entries)
{
    InstallRecord record;
    record.installDir = installDir;
    const NewVersion next(entries);
    for (const auto& [key, name] : next.folders)
        record.folders.push_back(name);
    std::stable_sort(record.folders.begin(), record.folders.end(),
                     [](const std::wstring& a, const std::wstring& b) { return Depth(a) < Depth(b); });
    for (const ArchiveEntry& entry : entries) {
        if (!entry.isFolder)
            record.files.push_back({entry.name, entry.size, entry.sha256});
    }
    return record;
}

bool PlanUpgrade(const std::wstring& installDir, const std::vector<ArchiveEntry>& entries,
                 const std::vector<bool>& inPlace, const std::wstring& userDataFile, const InstallRecord* previous,
                 UpgradePlan* plan)
{
    // The configuration may name it with "/" between levels.
    std::wstring userData = userDataFile;
    std::replace(userData.begin(), userData.end(), L'/', L'\\');
    HeldFolder root;
    if (!OpenFolderNoFollow(installDir, kWalkSharing, &root))
        return false;
    const NewVersion next(entries);
    // What the earlier version installed: by its record, or, without one,
    // whatever bears a name the new version has.
    std::set<std::wstring> earlierFiles;
    std::set<std::wstring> earlierFolders;
    if (previous) {
        for (const InstalledFile& file : previous->files)
            earlierFiles.insert(TextKey(file.name));
        for (const std::wstring& folder : previous->folders)
            earlierFolders.insert(TextKey(folder));
    }
    plan->keep.assign(entries.size(), false);
    plan->changes = {};
    plan->droppedFolders.clear();
    plan->playerEntries = 0;
    std::set<std::wstring> foldersThere;

    std::function<bool(const HeldFolder&, const std::wstring&)> walk = [&](const HeldFolder& folder,
                                                                           const std::wstring& prefix) {
        std::vector<FolderEntry> listed;
        if (!ListFolder(folder, &listed))
            return false;
        std::set<std::wstring> namesHere;
        for (const FolderEntry& entry : listed)
            namesHere.insert(TextKey(entry.name));
        for (const FolderEntry& entry : listed) {
            const std::wstring relative = prefix.empty() ? entry.name : prefix + L"\\" + entry.name;
            const std::wstring key = TextKey(relative);
            const bool link = entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT;
            const bool isFolder = entry.attributes & FILE_ATTRIBUTE_DIRECTORY;
            const auto file = next.files.find(key);
            const bool newName = file != next.files.end() || next.folders.count(key);
            const bool earlierFile = !(isFolder && !link) && (previous ? earlierFiles.count(key) > 0 : file != next.files.end());
            const bool earlierFolder = previous ? earlierFolders.count(key) > 0 : next.folders.count(key) > 0;
            if (isFolder && !link && (next.folders.count(key) || earlierFolder)) {
                HeldFolder child;
                if (!OpenChildFolder(folder, entry.name, kWalkSharing, &child))
                    return false;
                if (next.folders.count(key))
                    foldersThere.insert(key);
                else
                    plan->droppedFolders.push_back(relative);
                if (!walk(child, relative))
                    return false;
                continue;
            }
            if (!isFolder && !link) {
                const bool isUserData = !userData.empty() && SameText(relative, userData);
                if (isUserData || (file != next.files.end() && inPlace.size() > file->second && inPlace[file->second])) {
                    if (file != next.files.end())
                        plan->keep[file->second] = true;
                    continue;
                }
            }
            const bool product = earlierFile || (link && (newName || earlierFolder));
            // The player's own, in nobody's way: not touched, not even opened.
            if (!product && !newName) {
                ++plan->playerEntries;
                continue;
            }
            // Moved later through a checked handle on the entry itself: one
            // this system would not hand out cannot be moved.
            UniqueFile probe;
            if (!OpenChild(folder, entry.name, FILE_READ_ATTRIBUTES, kAnySharing, kFileOpen, 0, &probe))
                return false;
            if (product) {
                plan->changes.movedAside.push_back(relative);
                continue;
            }
            const std::wstring beside = PlayerCopyName(entry.name, [&](const std::wstring& name) {
                const std::wstring candidate = prefix.empty() ? name : prefix + L"\\" + name;
                return namesHere.count(TextKey(name)) || next.files.count(TextKey(candidate)) ||
                       next.folders.count(TextKey(candidate));
            });
            namesHere.insert(TextKey(beside));
            plan->changes.keptBeside.push_back({relative, prefix.empty() ? beside : prefix + L"\\" + beside});
        }
        return true;
    };
    if (!walk(root, L""))
        return false;

    for (const auto& [key, name] : next.folders) {
        if (!foldersThere.count(key))
            plan->changes.addedFolders.push_back(name);
    }
    std::stable_sort(plan->changes.addedFolders.begin(), plan->changes.addedFolders.end(),
                     [](const std::wstring& a, const std::wstring& b) { return Depth(a) < Depth(b); });
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].isFolder && !plan->keep[i])
            plan->changes.addedFiles.push_back(entries[i].name);
    }
    return true;
}

bool AnyInUse(const std::wstring& installDir, const std::vector<std::wstring>& paths)
{
    for (const std::wstring& relative : paths) {
        const std::wstring path = JoinPath(installDir, relative);
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (HasFileInUse(path))
                return true;
            continue;
        }
        // No sharing at all: the open fails while any other handle is open.
        UniqueFile probe(::CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
        if (!probe)
            return true;
    }
    return false;
}
