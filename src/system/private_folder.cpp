#include "system/private_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr const wchar_t* kPrivateAccess = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

bool CreateWithAccess(const std::wstring& path, const wchar_t* access)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const UniqueLocal held(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    return ::CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

// What the object behind handle reads back with: its owner, copied, and
// its access list as text. False when either cannot be had.
struct ReadBack {
    std::vector<BYTE> owner;
    std::wstring list;
};

bool ReadSecurity(HANDLE handle, ReadBack* read)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                          nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const UniqueLocal held(descriptor);
    if (!owner || !::IsValidSid(owner))
        return false;
    const auto* bytes = static_cast<const BYTE*>(owner);
    read->owner.assign(bytes, bytes + ::GetLengthSid(owner));
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                &text, nullptr))
        return false;
    const UniqueLocal heldText(text);
    read->list = text;
    return !read->list.empty();
}

// Whether every entry of the object's list lets in only Administrators,
// SYSTEM or owner, and nothing is inherited: a check of its own beside the
// comparison, so that a system where the folder of comparison came out
// wrong still lets in no folder that others may enter.
bool OnlyAdministratorsIn(HANDLE handle, const std::vector<BYTE>& owner)
{
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return false;
    const UniqueLocal held(descriptor);
    if (!list)
        return false;  // no list lets everyone in
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(list, i, &entry))
            return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceFlags & INHERITED_ACE)
            return false;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;
        const PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
        const bool owners = owner.size() == ::GetLengthSid(sid) && std::memcmp(owner.data(), sid, owner.size()) == 0;
        if (!::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) && !::IsWellKnownSid(sid, WinLocalSystemSid) &&
            !owners)
            return false;
    }
    return true;
}

// What a private folder reads back with on this system: learned once from
// a folder of comparison made in the temporary directory.
const ReadBack& PrivateReadBack()
{
    static std::once_flag learned;
    static ReadBack reference;
    std::call_once(learned, [] {
        wchar_t temp[MAX_PATH];
        const DWORD length = ::GetTempPathW(MAX_PATH, temp);
        if (length == 0 || length >= MAX_PATH - 40)
            return;
        for (unsigned n = 0; n < 100 && reference.owner.empty(); ++n) {
            const std::wstring probe = std::wstring(temp) + L"setup-owner-" + std::to_wstring(::GetCurrentProcessId()) +
                                       L"-" + std::to_wstring(n);
            if (!CreatePrivateFolder(probe)) {
                if (::GetLastError() == ERROR_ALREADY_EXISTS)
                    continue;
                return;
            }
            HeldFolder folder;
            if (!OpenFolderNoFollow(probe, FILE_SHARE_READ, &folder, DELETE))
                return;
            ReadBack read;
            if (ReadSecurity(folder.handle.get(), &read))
                reference = std::move(read);
            DeleteHeldFolder(&folder);
            if (reference.owner.empty())
                return;
        }
    });
    return reference;
}

}  // namespace

bool CreatePrivateFolder(const std::wstring& path)
{
    if (CreateWithAccess(path, kPrivateAccess))
        return true;
    if (::GetLastError() != ERROR_INVALID_OWNER)
        return false;
    return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

bool MakePrivateChildFolder(const HeldFolder& parent, const std::wstring& name, DWORD share, HeldFolder* made,
                            ACCESS_MASK extraAccess)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateAccess, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const UniqueLocal held(descriptor);
    if (MakeNewChildFolder(parent, name, descriptor, share, made, extraAccess))
        return true;
    // Not elevated, the owner cannot be Administrators: as CreatePrivateFolder.
    if (::GetLastError() != ERROR_INVALID_OWNER)
        return false;
    return MakeNewChildFolder(parent, name, nullptr, share, made, extraAccess);
}

bool IsPrivateFolder(const HeldFolder& folder)
{
    if (!folder)
        return false;
    ReadBack read;
    const ReadBack& reference = PrivateReadBack();
    if (reference.owner.empty() || !ReadSecurity(folder.handle.get(), &read))
        return false;
    const PSID sid = read.owner.data();
    const bool ownedByAdministrators = ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
                                       ::IsWellKnownSid(sid, WinLocalSystemSid) || read.owner == reference.owner;
    return ownedByAdministrators && read.list == reference.list && OnlyAdministratorsIn(folder.handle.get(), read.owner);
}
