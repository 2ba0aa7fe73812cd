#include "system/held_tree.h"

#include "system/paths.h"

HeldTree::HeldTree(const HeldFolder& root, DWORD share, bool make, ACCESS_MASK extraAccess, OnHeld onHeld)
    : root_(root), share_(share), make_(make), extraAccess_(extraAccess), onHeld_(std::move(onHeld))
{
}

const HeldFolder* HeldTree::Folder(const std::wstring& relative)
{
    if (relative.empty()) {
        if (root_)
            return &root_;
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    const std::wstring key = TextKey(relative);
    if (const auto found = held_.find(key); found != held_.end()) {
        if (found->second.folder)
            return &found->second.folder;
        ::SetLastError(found->second.error);
        return nullptr;
    }
    const HeldFolder* parent = Folder(ParentOf(relative));
    const std::wstring name = NameOf(relative);
    Level level;
    const bool held = parent &&
                      (make_ ? MakeChildFolder(*parent, name, share_, &level.folder)
                             : OpenChildFolder(*parent, name, share_, &level.folder, extraAccess_)) &&
                      (!onHeld_ || onHeld_(relative, level.folder));
    level.error = held ? ERROR_SUCCESS : ::GetLastError();
    if (!held)
        level.folder = HeldFolder();
    Level& kept = held_[key] = std::move(level);
    if (!kept.folder) {
        ::SetLastError(kept.error);
        return nullptr;
    }
    return &kept.folder;
}

const HeldFolder* HeldTree::FolderOf(const std::wstring& relative, std::wstring* name)
{
    *name = NameOf(relative);
    return Folder(ParentOf(relative));
}

void HeldTree::Release(const std::wstring& relative)
{
    const std::wstring key = TextKey(relative);
    for (auto it = held_.lower_bound(key); it != held_.end() && it->first.starts_with(key);) {
        if (it->first.size() == key.size() || it->first[key.size()] == L'\\')
            it = held_.erase(it);
        else
            ++it;
    }
}
