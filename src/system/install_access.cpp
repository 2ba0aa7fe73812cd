#include "system/install_access.h"

#include "system/held_tree.h"
#include "system/paths.h"
#include "system/unique_handle.h"

#include <sddl.h>

#include <map>
#include <mutex>

namespace {

// Read and execute (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), and modify
// (that with FILE_GENERIC_WRITE and DELETE): the masks the system's own
// folder dialogs write for these two.
constexpr const wchar_t* kReadExecute = L"0x1200a9";
constexpr const wchar_t* kModify = L"0x1301bf";

// The three grants, with inheritance flags (OICI for a folder's own list,
// OICIID or ID as an entry inherits them).
std::wstring Grants(const wchar_t* flags)
{
    const std::wstring f(flags);
    return L"(A;" + f + L";FA;;;SY)(A;" + f + L";FA;;;BA)(A;" + f + L";" + kReadExecute + L";;;BU)";
}

// A descriptor made once per text and kept for the process: thousands of
// entries take the same few lists.
PSECURITY_DESCRIPTOR Descriptor(const std::wstring& text)
{
    static std::mutex lock;
    static std::map<std::wstring, UniqueLocal> made;
    std::lock_guard<std::mutex> hold(lock);
    if (auto found = made.find(text); found != made.end())
        return found->second.get();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return made.emplace(text, UniqueLocal(descriptor)).first->second.get();
}

// Sets the list on the object behind handle and nothing else: not the
// system's propagation walk, which goes by names through the tree.
bool SetList(HANDLE handle, const std::wstring& text, bool isProtected)
{
    const PSECURITY_DESCRIPTOR descriptor = Descriptor(text);
    if (!descriptor)
        return false;
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    return ::SetKernelObjectSecurity(handle, what, descriptor) != FALSE;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

std::wstring InstallationAccessText() { return L"D:PAI" + Grants(L"OICI"); }

std::wstring EntryAccessText(EntryAccess access, bool folder)
{
    std::wstring text = L"D:AI";
    if (access == EntryAccess::kWritable)
        text += std::wstring(folder ? L"(A;OICI;" : L"(A;;") + kModify + L";;;BU)";
    return text + Grants(folder ? L"OICIID" : L"ID");
}

PSECURITY_DESCRIPTOR EntryAccessDescriptor(EntryAccess access, bool folder)
{
    return Descriptor(EntryAccessText(access, folder));
}

bool ApplyInstallationAccess(const HeldFolder& folder)
{
    if (!folder) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return SetList(folder.handle.get(), InstallationAccessText(), true);
}

bool ApplyEntryAccess(HANDLE entry, EntryAccess access)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(entry, &info))
        return false;
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || (!folder && info.nNumberOfLinks != 1)) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    return SetList(entry, EntryAccessText(access, folder), false);
}

bool ApplyEntryAccessBelow(const HeldFolder& root, const std::vector<std::wstring>& paths,
                           const std::vector<std::wstring>& writable)
{
    // Each folder on the way is opened once, through the one above it, and
    // given its list the first time it is met.
    HeldTree held(root, kShareAll, false, WRITE_DAC, [&](const std::wstring& relative, const HeldFolder& folder) {
        return ApplyEntryAccess(folder.handle.get(),
                                IsWritablePlace(relative, writable) ? EntryAccess::kWritable : EntryAccess::kProduct);
    });
    for (const std::wstring& path : paths) {
        std::wstring name;
        const HeldFolder* folder = held.FolderOf(path, &name);
        if (!folder) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                continue;
            return false;
        }
        UniqueFile entry;
        if (!OpenChild(*folder, name, WRITE_DAC | READ_CONTROL, kShareAll, kFileOpen, 0, &entry)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                continue;
            return false;
        }
        if (!ApplyEntryAccess(entry.get(),
                              IsWritablePlace(path, writable) ? EntryAccess::kWritable : EntryAccess::kProduct))
            return false;
    }
    return true;
}

bool IsWritablePlace(const std::wstring& path, const std::vector<std::wstring>& writable)
{
    for (const std::wstring& place : writable) {
        if (!place.empty() && IsInsideFolder(path, place))
            return true;
    }
    return false;
}

bool MakeInstallationParents(const std::wstring& folder, HeldFolder* held)
{
    std::wstring at = folder;
    while (at.size() > 3 && at.back() == L'\\')
        at.pop_back();
    // The nearest folder that is there is taken as it is: the player chose
    // the place. Every level below it is made through the one above and held
    // from the moment it exists, so nothing is looked up by path again.
    HeldFolder current;
    std::vector<std::wstring> missing;
    while (!OpenFolderAsIs(at, kShareAll, &current)) {
        const DWORD error = ::GetLastError();
        const std::wstring parent = ParentOf(at);
        if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || parent.empty())
            return false;
        missing.push_back(NameOf(at));
        at = parent;
    }
    const PSECURITY_DESCRIPTOR descriptor = Descriptor(InstallationAccessText());
    if (!descriptor)
        return false;
    for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
        // A level another program made meanwhile is taken only as a plain
        // folder: a link or a file that appeared there ends the walk.
        HeldFolder next;
        if (!MakeNewChildFolder(current, *name, descriptor, kShareAll, &next) &&
            !((::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) &&
              OpenChildFolder(current, *name, kShareAll, &next)))
            return false;
        current = std::move(next);
    }
    *held = std::move(current);
    return true;
}
