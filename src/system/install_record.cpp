#include "system/install_record.h"

#include "system/byte_record.h"
#include "system/folder_handles.h"
#include "system/paths.h"
#include "system/private_folder.h"

#include <windows.h>
#include <shlobj.h>
#include <winternl.h>

#include <algorithm>

namespace {

constexpr uint32_t kMagic = 0x43455249;  // "IREC"
constexpr uint32_t kVersion = 1;
constexpr const wchar_t* kRecordsFolder = L"SetupRecords";
constexpr int kFolderCandidates = 10;
constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring ProgramDataFolder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

std::wstring CandidateFolder(const std::wstring& base, int n)
{
    return JoinPath(base, kRecordsFolder) + (n > 0 ? L"." + std::to_wstring(n) : std::wstring());
}

bool IsRelativeName(const std::wstring& name)
{
    return IsSafeEntryName(name.c_str()) && name.find(L'/') == std::wstring::npos;
}

// The record's folder held, when it is still one only administrators can
// have made.
bool HoldPrivateFolder(const std::wstring& folder, HeldFolder* held)
{
    return OpenFolderNoFollow(folder, kHoldSharing, held) && IsOwnedAsPrivate(*held);
}

bool SplitAtLast(const std::wstring& path, std::wstring* folder, std::wstring* name)
{
    *folder = ParentOf(path);
    *name = NameOf(path);
    return !folder->empty() && !name->empty();
}

void PutU64(std::string& out, uint64_t value)
{
    PutU32(out, static_cast<uint32_t>(value));
    PutU32(out, static_cast<uint32_t>(value >> 32));
}

bool ReadNames(ByteReader& reader, std::vector<std::wstring>* names)
{
    uint32_t count = 0;
    if (!reader.U32(&count) || count > kMaxRecordEntries)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        std::wstring name;
        if (!reader.Text(&name) || !IsRelativeName(name))
            return false;
        names->push_back(std::move(name));
    }
    return true;
}

}  // namespace

bool InstallRecord::HasFile(const std::wstring& relative) const
{
    for (const InstalledFile& file : files) {
        if (SameText(file.name, relative))
            return true;
    }
    return false;
}

bool InstallRecord::HasFolder(const std::wstring& relative) const
{
    for (const std::wstring& folder : folders) {
        if (SameText(folder, relative))
            return true;
    }
    return false;
}

std::string EncodeInstallRecord(const InstallRecord& record)
{
    std::string bytes;
    PutU32(bytes, kMagic);
    PutU32(bytes, kVersion);
    PutText(bytes, record.installDir);
    PutText(bytes, record.desktopLink);
    PutText(bytes, record.programGroup);
    PutU32(bytes, static_cast<uint32_t>(record.files.size()));
    for (const InstalledFile& file : record.files) {
        PutText(bytes, file.name);
        PutU64(bytes, file.size);
        bytes.append(reinterpret_cast<const char*>(file.sha256.data()), file.sha256.size());
    }
    PutU32(bytes, static_cast<uint32_t>(record.folders.size()));
    for (const std::wstring& folder : record.folders)
        PutText(bytes, folder);
    return bytes;
}

bool DecodeInstallRecord(std::string_view bytes, const std::wstring& installDir, InstallRecord* record)
{
    *record = {};
    if (bytes.size() > kMaxInstallRecordBytes)
        return false;
    ByteReader reader(bytes);
    uint32_t magic = 0;
    uint32_t version = 0;
    uint32_t count = 0;
    InstallRecord read;
    if (!reader.U32(&magic) || magic != kMagic || !reader.U32(&version) || version != kVersion ||
        !reader.Text(&read.installDir) || !SameText(read.installDir, installDir) || !reader.Text(&read.desktopLink) ||
        !reader.Text(&read.programGroup) || !reader.U32(&count) || count > kMaxRecordEntries)
        return false;
    read.files.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        InstalledFile file;
        uint32_t low = 0;
        uint32_t high = 0;
        std::string digest;
        if (!reader.Text(&file.name) || !IsRelativeName(file.name) || !reader.U32(&low) || !reader.U32(&high) ||
            !reader.Bytes(file.sha256.size(), &digest))
            return false;
        file.size = (static_cast<uint64_t>(high) << 32) | low;
        std::copy(digest.begin(), digest.end(), file.sha256.begin());
        read.files.push_back(std::move(file));
    }
    if (!ReadNames(reader, &read.folders) || !reader.AtEnd())
        return false;
    *record = std::move(read);
    return true;
}

std::wstring InstallRecordPath(const std::wstring& product)
{
    const std::wstring base = ProgramDataFolder();
    if (base.empty() || product.empty() || product.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos)
        return {};
    const std::wstring name = product + L".rec";
    std::wstring firstFree;
    for (int n = 0; n < kFolderCandidates; ++n) {
        const std::wstring folder = CandidateFolder(base, n);
        HeldFolder held;
        if (HoldPrivateFolder(folder, &held)) {
            UniqueFile file;
            if (OpenChild(held, name, FILE_READ_ATTRIBUTES, kHoldSharing | FILE_SHARE_DELETE, kFileOpen, 0, &file))
                return JoinPath(folder, name);
            if (firstFree.empty())
                firstFree = JoinPath(folder, name);
        } else if (firstFree.empty() && ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES &&
                   ::GetLastError() == ERROR_FILE_NOT_FOUND) {
            firstFree = JoinPath(folder, name);
        }
    }
    return firstFree;
}

bool ReadInstallRecord(const std::wstring& path, const std::wstring& installDir, InstallRecord* record)
{
    *record = {};
    std::wstring folder;
    std::wstring name;
    HeldFolder held;
    std::string bytes;
    return SplitAtLast(path, &folder, &name) && HoldPrivateFolder(folder, &held) &&
           ReadChildFile(held, name, kMaxInstallRecordBytes, &bytes) && DecodeInstallRecord(bytes, installDir, record);
}

bool WriteInstallRecord(const std::wstring& path, const InstallRecord& record)
{
    std::wstring folder;
    std::wstring name;
    if (!SplitAtLast(path, &folder, &name))
        return false;
    HeldFolder held;
    if (!HoldPrivateFolder(folder, &held)) {
        if (!CreatePrivateFolder(folder) || !HoldPrivateFolder(folder, &held))
            return false;
    }
    // Nobody can rename the held folder meanwhile, so the path still names
    // the place just checked.
    return WriteFileReplacing(path, EncodeInstallRecord(record));
}

bool DeleteInstallRecord(const std::wstring& path)
{
    std::wstring folder;
    std::wstring name;
    HeldFolder held;
    if (!SplitAtLast(path, &folder, &name))
        return false;
    if (!HoldPrivateFolder(folder, &held))
        return ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
    return DeleteChild(held, name);
}
