#include "system/tagged_folder.h"

#include "system/paths.h"

#include <vector>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsTag(const std::wstring& name, std::initializer_list<const wchar_t*> tags)
{
    for (const wchar_t* tag : tags) {
        if (SameText(name, tag))
            return true;
    }
    return false;
}

// Empties the held folder, its tags last; true when nothing is left in it.
bool EmptyTaggedFolder(const HeldFolder& folder, std::initializer_list<const wchar_t*> tags)
{
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, &entries))
        return false;
    bool ok = true;
    for (const FolderEntry& entry : entries) {
        if (!IsTag(entry.name, tags))
            ok = DeleteChild(folder, entry.name) && ok;
    }
    for (const wchar_t* tag : tags)
        ok = ok && DeleteChild(folder, tag);
    return ok;
}

}  // namespace

bool HoldsTag(const HeldFolder& folder, const wchar_t* tag)
{
    UniqueFile child;
    return OpenChild(folder, tag, FILE_READ_ATTRIBUTES, kShareAll, kFileOpen, 0, &child);
}

bool DeleteHeldTaggedFolder(HeldFolder folder, const std::wstring& path, std::initializer_list<const wchar_t*> tags)
{
    const bool emptied = EmptyTaggedFolder(folder, tags);
    folder = HeldFolder();
    return emptied && DeleteFolderIfEmpty(path);
}

bool DeleteTaggedFolder(const HeldFolder& parent, const std::wstring& name, const wchar_t* tag)
{
    HeldFolder entry;
    if (!OpenChild(parent, name, DELETE | FILE_LIST_DIRECTORY | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   kFileOpen, 0, &entry.handle)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    DWORD attributes = 0;
    if (!HandleAttributes(entry.handle.get(), &attributes))
        return false;
    // A link is deleted through the handle on the link itself; its target
    // is never opened.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return DeleteHeldFolder(&entry);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetLastError(ERROR_DIRECTORY);
        return false;
    }
    entry.finalPath = JoinPath(parent.finalPath, name);
    std::vector<FolderEntry> children;
    if (!HoldsTag(entry, tag) && !(ListFolder(entry, &children) && children.empty())) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    return EmptyTaggedFolder(entry, {tag}) && DeleteHeldFolder(&entry);
}
