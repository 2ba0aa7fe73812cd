#include "engine/install_journal.h"

#include "config/config.h"
#include "system/file_ops.h"
#include "system/uninstall.h"
#include "system/unique_handle.h"

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <string_view>

namespace {

constexpr const wchar_t* kAsideTag = L"~setup-aside.tag";
constexpr const wchar_t* kAsideTagPart = L"~setup-aside.part";
constexpr const wchar_t* kDoneTag = L"~setup-done.tag";
constexpr const wchar_t* kKeptInstallation = L"install";

enum class RecordKind : uint32_t { kFile = 1, kFolder = 2, kKey = 3 };

std::wstring Child(const std::wstring& folder, const wchar_t* name) { return folder + L"\\" + name; }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool DeleteFileOfOurs(const std::wstring& path)
{
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
           ::GetLastError() == ERROR_PATH_NOT_FOUND;
}

bool ReadWhole(const std::wstring& path, std::string* bytes)
{
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 64 * 1024 * 1024)
        return false;
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return bytes->empty() ||
           (::ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
            read == bytes->size());
}

// Written in full and flushed before it is given its name, so a record that
// exists is a whole one.
bool WriteWhole(const std::wstring& path, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    const std::wstring part = path + L".part";
    {
        UniqueFile file(::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
        if (!file)
            return false;
        DWORD written = 0;
        if (!bytes.empty() &&
            (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
             written != bytes.size()))
            return false;
        if (!::FlushFileBuffers(file.get()))
            return false;
    }
    return ::MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

void PutU32(std::string& out, uint32_t value) { out.append(reinterpret_cast<const char*>(&value), sizeof(value)); }

void PutText(std::string& out, const std::wstring& text)
{
    PutU32(out, static_cast<uint32_t>(text.size()));
    out.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    bool U32(uint32_t* value)
    {
        if (bytes_.size() - at_ < sizeof(*value))
            return false;
        std::memcpy(value, bytes_.data() + at_, sizeof(*value));
        at_ += sizeof(*value);
        return true;
    }
    bool Bytes(size_t count, std::string* out)
    {
        if (bytes_.size() - at_ < count)
            return false;
        out->assign(bytes_.data() + at_, count);
        at_ += count;
        return true;
    }
    bool Text(std::wstring* text)
    {
        uint32_t length = 0;
        std::string raw;
        if (!U32(&length) || length > 32767 || !Bytes(length * sizeof(wchar_t), &raw))
            return false;
        text->assign(reinterpret_cast<const wchar_t*>(raw.data()), length);
        return true;
    }
    std::string Rest() const { return std::string(bytes_.substr(at_)); }
    bool AtEnd() const { return at_ == bytes_.size(); }

private:
    std::string_view bytes_;
    size_t at_ = 0;
};

std::wstring RecordPath(const std::wstring& aside, KeptSlot slot)
{
    return aside + L"\\kept-" + std::to_wstring(static_cast<int>(slot)) + L".rec";
}

std::string RecordHead(RecordKind kind, bool existed, const std::wstring& path)
{
    std::string record;
    PutU32(record, static_cast<uint32_t>(kind));
    PutU32(record, existed ? 1 : 0);
    PutText(record, path);
    return record;
}

// A record is written once: the first one holds what was there before the run.
bool KeepRecord(const std::wstring& aside, KeptSlot slot, const std::string& record)
{
    const std::wstring path = RecordPath(aside, slot);
    return Exists(path) || WriteWhole(path, record);
}

bool RestoreKey(const std::wstring& keyPath, bool existed, Reader& values)
{
    if (keyPath.empty())
        return false;
    HKEY probe = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        ::RegCloseKey(probe);
        if (!DeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath))
            return false;
    }
    if (!existed)
        return true;
    UniqueKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    while (!values.AtEnd()) {
        std::wstring name;
        uint32_t type = 0;
        uint32_t size = 0;
        std::string data;
        if (!values.Text(&name) || !values.U32(&type) || !values.U32(&size) || !values.Bytes(size, &data))
            return false;
        ok = ::RegSetValueExW(key.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), size) ==
                 ERROR_SUCCESS &&
             ok;
    }
    return ok;
}

bool RestoreRecord(const std::wstring& recordPath)
{
    std::string bytes;
    if (!ReadWhole(recordPath, &bytes))
        return false;
    Reader reader(bytes);
    uint32_t kind = 0;
    uint32_t existed = 0;
    std::wstring path;
    if (!reader.U32(&kind) || !reader.U32(&existed) || !reader.Text(&path) || path.empty())
        return false;
    switch (static_cast<RecordKind>(kind)) {
    case RecordKind::kFile: {
        if (!existed)
            return DeleteFileOfOurs(path);
        const size_t slash = path.rfind(L'\\');
        if (slash != std::wstring::npos)
            CreateFolderTree(path.substr(0, slash).c_str());
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        const std::string content = reader.Rest();
        UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        DWORD written = 0;
        return file && (content.empty() || (::WriteFile(file.get(), content.data(),
                                                        static_cast<DWORD>(content.size()), &written, nullptr) &&
                                            written == content.size()));
    }
    case RecordKind::kFolder:
        if (existed)
            return CreateFolderTree(path.c_str()) == 1;
        // Only the run's own links were in it; anything else keeps it.
        return !Exists(path) || ::RemoveDirectoryW(path.c_str()) || ::GetLastError() == ERROR_DIR_NOT_EMPTY;
    case RecordKind::kKey:
        return RestoreKey(path, existed != 0, reader);
    }
    return false;
}

// A folder whose only content is a tag being written: what a run left when
// it was stopped while making its aside folder.
bool HoldsNothingOfValue(const std::wstring& folder)
{
    bool onlyTag = true;
    const bool listed = ForEachChild(folder, [&](const WIN32_FIND_DATAW& data) {
        return onlyTag = std::wstring(data.cFileName) == kAsideTagPart;
    });
    return listed && onlyTag;
}

bool TaggedFor(const std::wstring& aside, const std::wstring& installDir)
{
    std::string tag;
    if (!ReadWhole(Child(aside, kAsideTag), &tag) || tag.size() % sizeof(wchar_t) != 0)
        return false;
    const std::wstring owner(reinterpret_cast<const wchar_t*>(tag.data()), tag.size() / sizeof(wchar_t));
    return SamePath(owner, installDir);
}

}  // namespace

int EmptyTaggedFolder(const std::wstring& folder, const wchar_t* tag)
{
    int ok = 1;
    const bool listed = ForEachChild(folder, [&](const WIN32_FIND_DATAW& data) {
        const std::wstring name = data.cFileName;
        if (SamePath(name, tag))
            return true;
        const std::wstring path = Child(folder, name.c_str());
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!DeletePath(path.c_str()))
                ok = 0;
        } else if (!DeleteFileOfOurs(path)) {
            ok = 0;
        }
        return true;
    });
    if (!listed)
        return IsFolder(folder) ? 0 : 1;
    return ok;
}

int DeleteTaggedFolder(const std::wstring& folder, const wchar_t* tag)
{
    if (!IsFolder(folder))
        return 1;
    if (!EmptyTaggedFolder(folder, tag))
        return 0;
    DeleteFileOfOurs(Child(folder, tag));
    return ::RemoveDirectoryW(folder.c_str()) || !Exists(folder) ? 1 : 0;
}

std::wstring InstallJournal::KeptInstallation(const std::wstring& aside) { return Child(aside, kKeptInstallation); }

std::wstring InstallJournal::Create(const std::wstring& installDir)
{
    for (int n = 0; n < 1000; ++n) {
        const std::wstring aside = installDir + L".old" + (n > 0 ? std::to_wstring(n) : L"");
        if (!::CreateDirectoryW(aside.c_str(), nullptr)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return {};
        }
        const std::string owner(reinterpret_cast<const char*>(installDir.data()), installDir.size() * sizeof(wchar_t));
        // The tag goes in under a name of its own first: a folder holding
        // only that is recognised as a cut-short start and removed.
        const std::wstring part = Child(aside, kAsideTagPart);
        const bool tagged = [&] {
            {
                UniqueFile file(::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_HIDDEN, nullptr));
                DWORD written = 0;
                if (!file || !::WriteFile(file.get(), owner.data(), static_cast<DWORD>(owner.size()), &written, nullptr) ||
                    written != owner.size() || !::FlushFileBuffers(file.get()))
                    return false;
            }
            return ::MoveFileExW(part.c_str(), Child(aside, kAsideTag).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
        }();
        if (!tagged) {
            const DWORD error = ::GetLastError();
            DeleteFileOfOurs(part);
            ::RemoveDirectoryW(aside.c_str());
            ::SetLastError(error);
            return {};
        }
        return aside;
    }
    ::SetLastError(ERROR_ALREADY_EXISTS);
    return {};
}

std::vector<std::wstring> InstallJournal::Find(const std::wstring& installDir)
{
    std::vector<std::wstring> found;
    if (installDir.empty())
        return found;
    const size_t slash = installDir.rfind(L'\\');
    const std::wstring parent = slash == std::wstring::npos ? std::wstring() : installDir.substr(0, slash);
    const std::wstring stem = (slash == std::wstring::npos ? installDir : installDir.substr(slash + 1)) + L".old";
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW((installDir + L".old*").c_str(), &data));
    if (!find)
        return found;
    do {
        const std::wstring name = data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name.size() < stem.size() ||
            !SamePath(name.substr(0, stem.size()), stem))
            continue;
        bool digits = true;
        for (size_t i = stem.size(); i < name.size(); ++i)
            digits = digits && std::iswdigit(name[i]);
        if (!digits)
            continue;
        const std::wstring aside = parent + L"\\" + name;
        if (TaggedFor(aside, installDir)) {
            found.push_back(aside);
        } else if (HoldsNothingOfValue(aside)) {
            DeleteFileOfOurs(Child(aside, kAsideTagPart));
            ::RemoveDirectoryW(aside.c_str());
        }
    } while (::FindNextFileW(find.get(), &data));
    return found;
}

bool InstallJournal::MoveAside(const std::wstring& aside, const std::wstring& installDir)
{
    return ::MoveFileExW(installDir.c_str(), KeptInstallation(aside).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool InstallJournal::KeepFile(const std::wstring& aside, KeptSlot slot, const std::wstring& path)
{
    if (path.empty())
        return false;
    std::string content;
    const bool existed = Exists(path);
    if (existed && !ReadWhole(path, &content))
        return false;
    return KeepRecord(aside, slot, RecordHead(RecordKind::kFile, existed, path) + content);
}

bool InstallJournal::KeepFolder(const std::wstring& aside, KeptSlot slot, const std::wstring& path)
{
    if (path.empty())
        return false;
    return KeepRecord(aside, slot, RecordHead(RecordKind::kFolder, IsFolder(path), path));
}

bool InstallJournal::KeepKey(const std::wstring& aside, KeptSlot slot, const std::wstring& keyPath)
{
    if (keyPath.empty())
        return false;
    UniqueKey key;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put());
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND)
        return false;
    std::string record = RecordHead(RecordKind::kKey, opened == ERROR_SUCCESS, keyPath);
    for (DWORD index = 0; opened == ERROR_SUCCESS; ++index) {
        wchar_t name[16384];
        DWORD nameLength = static_cast<DWORD>(std::size(name));
        DWORD type = 0;
        DWORD size = 0;
        LONG result = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, nullptr, &size);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            return false;
        std::string data(size, '\0');
        nameLength = static_cast<DWORD>(std::size(name));
        result = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type,
                                 reinterpret_cast<BYTE*>(data.data()), &size);
        if (result != ERROR_SUCCESS)
            return false;
        data.resize(size);
        PutText(record, std::wstring(name, nameLength));
        PutU32(record, type);
        PutU32(record, static_cast<uint32_t>(data.size()));
        record += data;
    }
    return KeepRecord(aside, slot, record);
}

bool InstallJournal::Commit(const std::wstring& aside, const std::wstring& installDir)
{
    if (!Exists(Child(aside, kDoneTag)) && !WriteWhole(Child(aside, kDoneTag), {}))
        return false;
    // Until the tag is gone the installation would count as the run's own;
    // the aside folder, marked done, stays for the next run to finish this.
    if (!DeleteFileOfOurs(Child(installDir, kStagingTag)))
        return false;
    return DeleteTaggedFolder(aside, kAsideTag) == 1;
}

bool InstallJournal::Undo(const std::wstring& aside, const std::wstring& installDir)
{
    if (Exists(Child(aside, kDoneTag)))
        return Commit(aside, installDir);

    bool restored = true;
    for (int slot = static_cast<int>(KeptSlot::kUninstallEntry); slot >= static_cast<int>(KeptSlot::kDesktopLink);
         --slot) {
        const std::wstring record = RecordPath(aside, static_cast<KeptSlot>(slot));
        if (Exists(record) && !RestoreRecord(record))
            restored = false;
    }

    // The run's own installation: tagged until committed. While the earlier
    // one is kept, whatever stands in its place can only be the run's.
    const std::wstring kept = KeptInstallation(aside);
    const bool keptExists = IsFolder(kept);
    if (IsFolder(installDir) && (keptExists || Exists(Child(installDir, kStagingTag)))) {
        if (!DeleteTaggedFolder(installDir, kStagingTag))
            return false;
    }
    if (keptExists && !::MoveFileExW(kept.c_str(), installDir.c_str(), MOVEFILE_WRITE_THROUGH))
        return false;
    if (!restored)
        return false;
    return DeleteTaggedFolder(aside, kAsideTag) == 1;
}

bool RecoverInterruptedInstall(const std::wstring& installDir)
{
    bool recovered = true;
    for (const std::wstring& aside : InstallJournal::Find(installDir)) {
        if (!InstallJournal::Undo(aside, installDir) && IsFolder(InstallJournal::KeptInstallation(aside)))
            recovered = false;
    }
    return recovered;
}
