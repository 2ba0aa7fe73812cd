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

bool PlanUpgrade(const std::wstring& installDir, const std::vector<ArchiveEntry>& entries,
                 const std::vector<bool>& inPlace, const std::wstring& userDataFile, UpgradePlan* plan)
{
    HeldFolder root;
    if (!OpenFolderNoFollow(installDir, kWalkSharing, &root))
        return false;
    const NewVersion next(entries);
    plan->keep.assign(entries.size(), false);
    plan->changes = {};
    std::set<std::wstring> foldersThere;

    std::function<bool(const HeldFolder&, const std::wstring&)> walk = [&](const HeldFolder& folder,
                                                                           const std::wstring& prefix) {
        std::vector<FolderEntry> listed;
        if (!ListFolder(folder, &listed))
            return false;
        for (const FolderEntry& entry : listed) {
            const std::wstring relative = prefix.empty() ? entry.name : prefix + L"\\" + entry.name;
            const std::wstring key = TextKey(relative);
            const bool link = entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT;
            const bool isFolder = entry.attributes & FILE_ATTRIBUTE_DIRECTORY;
            if (isFolder && !link && next.folders.count(key)) {
                HeldFolder child;
                if (!OpenChildFolder(folder, entry.name, kWalkSharing, &child))
                    return false;
                foldersThere.insert(key);
                if (!walk(child, relative))
                    return false;
                continue;
            }
            const auto file = next.files.find(key);
            if (!isFolder && !link) {
                const bool userData = !userDataFile.empty() && SameText(relative, userDataFile);
                if (userData || (file != next.files.end() && inPlace.size() > file->second && inPlace[file->second])) {
                    if (file != next.files.end())
                        plan->keep[file->second] = true;
                    continue;
                }
            }
            // Moved aside later through a checked handle on the entry itself:
            // one this system would not hand out is left to a whole replacement.
            UniqueFile probe;
            if (!OpenChild(folder, entry.name, FILE_READ_ATTRIBUTES, kAnySharing, 1 /* open */, 0, &probe))
                return false;
            plan->changes.movedAside.push_back(relative);
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
