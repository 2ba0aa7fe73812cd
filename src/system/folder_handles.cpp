#include "system/folder_handles.h"

#include "system/paths.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

constexpr ULONG kSynchronousIo = 0x00000020;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Windows 10 1709 and later; the headers for older targets lack them.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

bool IsPlainName(const std::wstring& name)
{
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/") == std::wstring::npos;
}

// Where the system says the object behind handle lies: a DOS path where it
// can give one (without the \\?\ prefix), else the device path (some
// volumes have no DOS name the mount manager knows). A folder and its
// entries lie on one volume, so both sides of a comparison come out alike.
std::wstring FinalPath(HANDLE handle)
{
    for (const DWORD flags : {FILE_NAME_NORMALIZED | VOLUME_NAME_DOS, FILE_NAME_NORMALIZED | VOLUME_NAME_NT}) {
        std::wstring path(MAX_PATH, L'\0');
        DWORD length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), flags);
        if (length >= path.size()) {
            path.resize(length + 1);
            length = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), flags);
        }
        if (length == 0 || length >= path.size())
            continue;
        path.resize(length);
        if (path.starts_with(L"\\\\?\\UNC\\"))
            return L"\\\\" + path.substr(8);
        if (path.starts_with(L"\\\\?\\"))
            return path.substr(4);
        return path;
    }
    return {};
}

// Opens the folder at the full path level by level: its drive or share
// root as the system gives it, then each folder through the one above it,
// never following a link. A link anywhere on the way (a junction a user
// made in a folder that user may write) fails with ERROR_CANT_ACCESS_FILE
// instead of leading the elevated program somewhere else.
bool OpenFolderByLevels(const std::wstring& path, HeldFolder* folder, bool make = false)
{
    std::wstring full = path;
    std::replace(full.begin(), full.end(), L'/', L'\\');
    if (full.starts_with(L"\\\\?\\UNC\\"))
        full = L"\\\\" + full.substr(8);
    else if (full.starts_with(L"\\\\?\\"))
        full = full.substr(4);
    // Short names spelled out, so that each level is named as it lies.
    full = LongPathOf(full);
    size_t start = 0;
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        start = 3;
    } else if (full.starts_with(L"\\\\")) {
        const size_t server = full.find(L'\\', 2);
        const size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
        if (server == std::wstring::npos || server == 2) {
            ::SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        start = share == std::wstring::npos ? full.size() : share + 1;
    } else {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::wstring root = full.substr(0, start);
    if (root.back() != L'\\')
        root += L'\\';
    HeldFolder current;
    current.handle.reset(::CreateFileW(root.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!current)
        return false;
    current.finalPath = FinalPath(current.handle.get());
    if (current.finalPath.empty())
        return false;
    while (start < full.size()) {
        size_t end = full.find(L'\\', start);
        if (end == std::wstring::npos)
            end = full.size();
        const std::wstring name = full.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == L".")
            continue;
        HeldFolder next;
        constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        if (name == L".." ||
            !(make ? MakeChildFolder(current, name, share, &next) : OpenChildFolder(current, name, share, &next)))
            return false;
        current = std::move(next);
    }
    *folder = std::move(current);
    return true;
}

bool IsFolderAttributes(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool MarkForDeletion(HANDLE handle, DWORD attributes)
{
    // Gone from the folder at once where the system can (so the folder
    // holding it can go too while a scanner still holds the file), else
    // when the last handle closes.
    struct {
        DWORD Flags;
    } posix{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
    if (::SetFileInformationByHandle(handle, kFileDispositionInfoEx, &posix, sizeof(posix)))
        return true;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
        if (basic.FileAttributes != FILE_ATTRIBUTE_NORMAL)
            basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
        ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic));
    }
    FILE_DISPOSITION_INFO plain{TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &plain, sizeof(plain)) != FALSE;
}

// Whether keep (relative, backslashes) is name itself or lies inside it;
// rest receives what lies below name.
bool KeepStartsWith(const std::wstring& keep, const std::wstring& name, std::wstring* rest)
{
    if (keep.empty())
        return false;
    const size_t slash = keep.find(L'\\');
    if (!SameText(keep.substr(0, slash), name))
        return false;
    *rest = slash == std::wstring::npos ? std::wstring() : keep.substr(slash + 1);
    return true;
}

}  // namespace

bool HandleAttributes(HANDLE handle, DWORD* attributes)
{
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof(info)))
        return false;
    *attributes = info.FileAttributes;
    return true;
}

bool RenameInto(HANDLE entry, const HeldFolder& to, const std::wstring& name, bool replace)
{
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFORMATION) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = to.handle.get();
    rename->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, name.c_str(), name.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtSetInformationFile(entry, &io, rename, static_cast<ULONG>(buffer.size()),
                                                   FileRenameInformation);
    if (status < 0) {
        ::SetLastError(::RtlNtStatusToDosError(status));
        return false;
    }
    return true;
}

bool OpenParentOf(const std::wstring& path, HeldFolder* parent, std::wstring* name)
{
    std::wstring trimmed = path;
    while (trimmed.size() > 3 && trimmed.back() == L'\\')
        trimmed.pop_back();
    const std::wstring parentPath = ParentOf(trimmed);
    *name = NameOf(trimmed);
    if (parentPath.empty() || name->empty()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return OpenFolderByLevels(parentPath, parent);
}

bool MakeFolderNoFollow(const std::wstring& path, HeldFolder* made)
{
    HeldFolder local;
    return OpenFolderByLevels(path, made ? made : &local, true);
}

bool OpenChild(const HeldFolder& folder, const std::wstring& name, ACCESS_MASK access, DWORD share,
               ULONG disposition, ULONG options, UniqueFile* child, PSECURITY_DESCRIPTOR descriptor)
{
    if (!folder || !IsPlainName(name) || name.size() > 32767 / sizeof(wchar_t)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const bool create = disposition == kFileCreate;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder.handle.get(),
                               create ? descriptor : nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    const NTSTATUS status = ::NtCreateFile(&opened, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io,
                                           nullptr, FILE_ATTRIBUTE_NORMAL, share, create ? kFileCreate : kFileOpen,
                                           options | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT |
                                               kSynchronousIo,
                                           nullptr, 0);
    if (status < 0) {
        ::SetLastError(::RtlNtStatusToDosError(status));
        return false;
    }
    UniqueFile held(opened);
    // The object the system opened must lie where the entry lies: a system
    // that follows a link anyway hands out its target, somewhere else. A new
    // entry is asked too: under Wine the held folder can be swapped for a
    // link from the Unix side, and only this answer finds what was made
    // through it.
    const std::wstring where = FinalPath(held.get());
    if (where.empty() || !SameText(where, JoinPath(folder.finalPath, name))) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    *child = std::move(held);
    return true;
}

bool OpenChildFolder(const HeldFolder& folder, const std::wstring& name, DWORD share, HeldFolder* child,
                     ACCESS_MASK extraAccess)
{
    UniqueFile handle;
    if (!OpenChild(folder, name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | extraAccess, share,
                   kFileOpen, 0, &handle))
        return false;
    DWORD attributes = 0;
    if (!HandleAttributes(handle.get(), &attributes))
        return false;
    if (!IsFolderAttributes(attributes)) {
        ::SetLastError(ERROR_DIRECTORY);
        return false;
    }
    child->finalPath = JoinPath(folder.finalPath, name);
    child->handle = std::move(handle);
    return true;
}

bool OpenFolderNoFollow(const std::wstring& path, DWORD share, HeldFolder* folder, ACCESS_MASK extraAccess)
{
    HeldFolder parent;
    std::wstring name;
    return OpenParentOf(path, &parent, &name) && OpenChildFolder(parent, name, share, folder, extraAccess);
}

bool DeleteHeldFolder(HeldFolder* folder)
{
    if (!*folder)
        return false;
    const bool marked = MarkForDeletion(folder->handle.get(), FILE_ATTRIBUTE_DIRECTORY);
    folder->handle.reset();
    folder->finalPath.clear();
    return marked;
}

bool MakeChildFolder(const HeldFolder& folder, const std::wstring& name, DWORD share, HeldFolder* child,
                     PSECURITY_DESCRIPTOR descriptor)
{
    UniqueFile made;
    if (!OpenChild(folder, name, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   kFileCreate, kDirectoryFile, &made, descriptor) &&
        ::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    made.reset();
    return OpenChildFolder(folder, name, share, child);
}

bool OpenFolderBelow(const HeldFolder& root, const std::wstring& relative, bool make, DWORD share,
                     HeldFolder* folder)
{
    HeldFolder current;
    current.finalPath = root.finalPath;
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), root.handle.get(), ::GetCurrentProcess(), &duplicate, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return false;
    current.handle.reset(duplicate);
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos)
            end = relative.size();
        const std::wstring name = relative.substr(start, end - start);
        HeldFolder next;
        if (!(make ? MakeChildFolder(current, name, share, &next) : OpenChildFolder(current, name, share, &next)))
            return false;
        current = std::move(next);
        start = end + 1;
    }
    *folder = std::move(current);
    return true;
}

bool MoveChild(const HeldFolder& from, const std::wstring& name, const HeldFolder& to, const std::wstring& newName)
{
    UniqueFile entry;
    if (!OpenChild(from, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen, 0, &entry))
        return false;
    if (!IsPlainName(newName) || to.finalPath.empty()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return RenameInto(entry.get(), to, newName, false);
}

bool ListFolder(const HeldFolder& folder, std::vector<FolderEntry>* entries)
{
    entries->clear();
    if (!folder)
        return false;
    alignas(8) BYTE buffer[64 * 1024];
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(folder.handle.get(), kind, buffer, sizeof(buffer)))
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        kind = FileFullDirectoryInfo;
        for (size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer + at);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries->push_back({std::move(name), entry->FileAttributes});
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
}

bool HasSingleLink(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1;
}

bool ReadChildFile(const HeldFolder& folder, const std::wstring& name, size_t maxBytes, std::string* bytes)
{
    UniqueFile file;
    if (!OpenChild(folder, name, GENERIC_READ, FILE_SHARE_READ, kFileOpen, kNonDirectoryFile, &file))
        return false;
    if (!HasSingleLink(file.get())) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    DWORD attributes = 0;
    LARGE_INTEGER size{};
    if (!HandleAttributes(file.get(), &attributes) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > maxBytes) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return bytes->empty() ||
           (::ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
            read == bytes->size());
}

bool WriteNewChildFile(const HeldFolder& folder, const std::wstring& name, const std::string& bytes,
                       DWORD attributes)
{
    UniqueFile file;
    if (!OpenChild(folder, name, GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, kFileCreate, kNonDirectoryFile, &file))
        return false;
    DWORD written = 0;
    if (!bytes.empty() && (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                        nullptr) ||
                           written != bytes.size()))
        return false;
    if (attributes != FILE_ATTRIBUTE_NORMAL) {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = attributes;
        ::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof(basic));
    }
    return ::FlushFileBuffers(file.get()) != FALSE;
}

bool DeleteChild(const HeldFolder& folder, const std::wstring& name, const std::wstring& keep)
{
    UniqueFile entry;
    if (!OpenChild(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen, 0, &entry)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    DWORD attributes = 0;
    if (!HandleAttributes(entry.get(), &attributes))
        return false;
    if (!keep.empty() && !IsFolderAttributes(attributes))
        return false;  // keep names something below a file or a link: keep it whole
    if (IsFolderAttributes(attributes)) {
        HeldFolder inner;
        inner.handle = std::move(entry);
        inner.finalPath = JoinPath(folder.finalPath, name);
        std::vector<FolderEntry> children;
        if (!ListFolder(inner, &children))
            return false;
        bool cleared = true;
        bool keptInside = false;
        for (const FolderEntry& child : children) {
            std::wstring rest;
            if (KeepStartsWith(keep, child.name, &rest)) {
                if (rest.empty()) {
                    keptInside = true;
                    continue;
                }
                if (DeleteChild(inner, child.name, rest))
                    keptInside = true;
                else
                    cleared = false;
                continue;
            }
            cleared = DeleteChild(inner, child.name) && cleared;
        }
        if (!cleared)
            return false;
        if (keptInside)
            return true;
        entry = std::move(inner.handle);
    }
    if (!MarkForDeletion(entry.get(), attributes))
        return false;
    entry.reset();
    // Marked entries go when their last handle closes; a folder whose
    // entries another program still holds stays until then, and reports
    // itself here as not gone.
    UniqueFile probe;
    return !OpenChild(folder, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      kFileOpen, 0, &probe) &&
           (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND);
}

bool RemoveChildFolderIfEmpty(const HeldFolder& folder, const std::wstring& name)
{
    HeldFolder child;
    if (!OpenChildFolder(folder, name, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &child, DELETE))
        return true;
    std::vector<FolderEntry> entries;
    if (!ListFolder(child, &entries) || !entries.empty())
        return true;
    return DeleteHeldFolder(&child);
}

bool DeleteFolderIfEmpty(const std::wstring& path, bool* kept)
{
    if (kept)
        *kept = false;
    HeldFolder parent;
    std::wstring name;
    HeldFolder folder;
    if (!OpenParentOf(path, &parent, &name) || !OpenChildFolder(parent, name, kShareAll, &folder, DELETE)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_DIRECTORY)
            return DeleteChild(parent, name);  // no plain folder: a link (itself) or a file
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, &entries))
        return false;
    if (!entries.empty()) {
        if (kept)
            *kept = true;
        return false;
    }
    return DeleteHeldFolder(&folder);
}

bool DeleteTree(const std::wstring& path, const std::wstring& keep)
{
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND))
        return true;
    HeldFolder parent;
    std::wstring name;
    if (!OpenParentOf(path, &parent, &name))
        return false;  // a drive root or a relative name is never deleted
    // keep as a path below the entry; one outside it keeps nothing here.
    std::wstring keepRelative;
    const size_t base = path.size() - (path.back() == L'\\' ? 1 : 0);
    if (keep.size() > base + 1 && keep[base] == L'\\' && SameText(keep.substr(0, base), path.substr(0, base)))
        keepRelative = keep.substr(base + 1);
    return DeleteChild(parent, name, keepRelative);
}

bool ReadFileNoFollow(const std::wstring& path, size_t maxBytes, std::string* bytes)
{
    HeldFolder parent;
    std::wstring name;
    if (!OpenParentOf(path, &parent, &name))
        return false;
    UniqueFile file;
    if (!OpenChild(parent, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   kFileOpen, 0, &file))
        return false;
    DWORD attributes = 0;
    if (!HandleAttributes(file.get(), &attributes))
        return false;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    file.reset();
    return ReadChildFile(parent, name, maxBytes, bytes);
}

namespace {

// Makes a new file beside path, fills it through write, and renames it over
// whatever entry is at path; nothing is left under the fresh name on failure.
bool ReplaceChildWith(const HeldFolder& parent, const std::wstring& name, const std::function<bool(HANDLE)>& write)
{
    UniqueFile file;
    for (unsigned n = 0; !file; ++n) {
        const std::wstring fresh = L"~" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(n) + L".new";
        if (OpenChild(parent, fresh, GENERIC_WRITE | DELETE, 0, kFileCreate, kNonDirectoryFile, &file))
            break;
        if ((::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) || n == 100)
            return false;
    }
    bool ok = write(file.get()) && ::FlushFileBuffers(file.get());
    if (ok) {
        // Renamed through the handle into the held folder: the file written
        // is the file named, where the name was checked.
        ok = RenameInto(file.get(), parent, name, true);
    }
    if (!ok) {
        const DWORD error = ::GetLastError();
        MarkForDeletion(file.get(), 0);
        ::SetLastError(error);
    }
    return ok;
}

bool WriteAll(HANDLE file, const char* data, size_t size)
{
    DWORD written = 0;
    return size == 0 || (::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size);
}

}  // namespace

bool WriteChildFileReplacing(const HeldFolder& folder, const std::wstring& name, const std::string& bytes)
{
    return ReplaceChildWith(folder, name, [&](HANDLE file) { return WriteAll(file, bytes.data(), bytes.size()); });
}

bool WriteFileReplacing(const std::wstring& path, const std::string& bytes)
{
    HeldFolder parent;
    std::wstring name;
    return OpenParentOf(path, &parent, &name) && WriteChildFileReplacing(parent, name, bytes);
}

bool DeleteFileNoFollow(const std::wstring& path)
{
    HeldFolder parent;
    std::wstring name;
    if (!OpenParentOf(path, &parent, &name)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    UniqueFile entry;
    DWORD attributes = 0;
    if (OpenChild(parent, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  kFileOpen, 0, &entry) &&
        HandleAttributes(entry.get(), &attributes) && IsFolderAttributes(attributes)) {
        ::SetLastError(ERROR_DIRECTORY);
        return false;
    }
    entry.reset();
    return DeleteChild(parent, name);
}

bool OpenFolderAsIs(const std::wstring& path, DWORD share, HeldFolder* folder)
{
    folder->handle.reset(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_TRAVERSE,
                                       share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD attributes = 0;
    if (!*folder || !HandleAttributes(folder->handle.get(), &attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        folder->handle.reset();
        if (::GetLastError() == ERROR_SUCCESS)
            ::SetLastError(ERROR_DIRECTORY);
        return false;
    }
    folder->finalPath = FinalPath(folder->handle.get());
    return !folder->finalPath.empty();
}

bool MakeNewChildFolder(const HeldFolder& folder, const std::wstring& name, PSECURITY_DESCRIPTOR descriptor,
                        DWORD share, HeldFolder* child, ACCESS_MASK extraAccess)
{
    UniqueFile made;
    if (!OpenChild(folder, name, FILE_LIST_DIRECTORY | READ_CONTROL | extraAccess, share, kFileCreate, kDirectoryFile,
                   &made, descriptor))
        return false;
    child->handle = std::move(made);
    child->finalPath = JoinPath(folder.finalPath, name);
    return true;
}

bool RenameHeldFolder(HeldFolder* folder, const HeldFolder& to, const std::wstring& newName)
{
    if (!*folder || !to || !IsPlainName(newName)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // The new name relative to the held destination, so nothing on the way
    // is looked up again by path.
    if (!RenameInto(folder->handle.get(), to, newName, false))
        return false;
    folder->finalPath = JoinPath(to.finalPath, newName);
    return true;
}
