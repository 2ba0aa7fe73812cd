#include "system/private_folder.h"

#include <aclapi.h>
#include <sddl.h>

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

// The owner of the object behind handle, copied; empty when unknown.
std::vector<BYTE> OwnerOf(HANDLE handle)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return {};
    const UniqueLocal held(descriptor);
    if (!owner || !::IsValidSid(owner))
        return {};
    const auto* bytes = static_cast<const BYTE*>(owner);
    return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(owner));
}

// Whom this system makes the owner of a private folder: learned once from
// a probe folder in the temporary directory.
const std::vector<BYTE>& PrivateOwner()
{
    static std::once_flag learned;
    static std::vector<BYTE> owner;
    std::call_once(learned, [] {
        wchar_t temp[MAX_PATH];
        const DWORD length = ::GetTempPathW(MAX_PATH, temp);
        if (length == 0 || length >= MAX_PATH - 40)
            return;
        for (unsigned n = 0; n < 100 && owner.empty(); ++n) {
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
            owner = OwnerOf(folder.handle.get());
            DeleteHeldFolder(&folder);
        }
    });
    return owner;
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

bool IsOwnedAsPrivate(const HeldFolder& folder)
{
    if (!folder)
        return false;
    const std::vector<BYTE> owner = OwnerOf(folder.handle.get());
    if (owner.empty())
        return false;
    const PSID sid = const_cast<BYTE*>(owner.data());
    if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid))
        return true;
    const std::vector<BYTE>& ours = PrivateOwner();
    return !ours.empty() && ours == owner;
}
