#include "system/install_log.h"

#include "system/folder_handles.h"
#include "system/paths.h"
#include "system/unique_handle.h"
#include "system/windows_version.h"

#include <winternl.h>

#include <cstdio>
#include <mutex>

namespace {

constexpr ULONG kWriteThrough = 0x2;  // FILE_WRITE_THROUGH
constexpr int kMostNames = 99;

struct LogTarget {
    std::mutex lock;
    UniqueFile file;
    std::wstring path;
};

LogTarget& Target()
{
    static LogTarget target;
    return target;
}

bool WriteBytes(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                              nullptr);
    return bytes;
}

// The folder the log goes in, held, refused when it is itself a link: the
// log's own name is then looked up only inside the folder held.
bool HoldLogFolder(const std::wstring& path, HeldFolder* folder)
{
    UniqueFile handle(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle)
        return false;
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &info, sizeof(info)))
        return false;
    if (!(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_DIRECTORY);
        return false;
    }
    std::wstring where(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle.get(), where.data(), static_cast<DWORD>(where.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= where.size()) {
        where.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(handle.get(), where.data(), static_cast<DWORD>(where.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= where.size())
        return false;
    where.resize(length);
    if (where.starts_with(L"\\\\?\\UNC\\"))
        where = L"\\\\" + where.substr(8);
    else if (where.starts_with(L"\\\\?\\"))
        where = where.substr(4);
    // A system that follows a link even when asked not to (Wine, for a Unix
    // symbolic link) hands out its target, which lies somewhere else.
    std::wstring asked = LongPathOf(path);
    while (asked.size() > 3 && asked.back() == L'\\')
        asked.pop_back();
    if (!SameText(where, asked) || (::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    folder->handle = std::move(handle);
    folder->finalPath = where;
    return true;
}

// name, or for the n-th try its stem with "-n" before the extension.
std::wstring Candidate(const std::wstring& name, int n)
{
    if (n == 1)
        return name;
    const size_t dot = name.rfind(L'.');
    const size_t at = dot == std::wstring::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, at) + L"-" + std::to_wstring(n) + name.substr(at);
}

// A file opened as new must be one: no second name, no link, nothing in it.
bool IsPlainNewFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        return false;
    return info.nNumberOfLinks == 1 && info.nFileSizeHigh == 0 && info.nFileSizeLow == 0 &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

std::wstring TimeStamp()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u.%03u  ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

}  // namespace

std::wstring LogNameStem(const std::wstring& name)
{
    std::wstring stem;
    for (wchar_t c : name)
        stem += c < 0x20 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos ? L'_' : c;
    while (!stem.empty() && (stem.back() == L'.' || stem.back() == L' '))
        stem.pop_back();
    return stem.empty() ? std::wstring(L"setup") : stem;
}

bool OpenInstallLog(const std::wstring& path, const std::wstring& stem)
{
    std::wstring full;
    if (path.empty()) {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        wchar_t when[32];
        std::swprintf(when, 32, L"-%04u%02u%02u-%02u%02u%02u.log", now.wYear, now.wMonth, now.wDay, now.wHour,
                      now.wMinute, now.wSecond);
        full = JoinPath(TempDirectory(), LogNameStem(stem) + when);
        if (full.empty()) {
            ::SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
    } else {
        const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        if (length == 0)
            return false;
        full.resize(length);
        const DWORD written = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
        if (written == 0 || written >= length)
            return false;
        full.resize(written);
    }
    const size_t slash = full.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 >= full.size()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const std::wstring folderPath = slash == 2 && full[1] == L':' ? full.substr(0, 3) : full.substr(0, slash);
    const std::wstring name = full.substr(slash + 1);
    HeldFolder folder;
    if (!HoldLogFolder(folderPath, &folder))
        return false;
    UniqueFile file;
    std::wstring opened;
    for (int n = 1; n <= kMostNames && !file; ++n) {
        opened = Candidate(name, n);
        // Appending only: whatever another holder of the handle did, every
        // line lands at the end. Others may read it while the run goes on.
        if (OpenChild(folder, opened, FILE_APPEND_DATA, FILE_SHARE_READ, kFileCreate, kNonDirectoryFile | kWriteThrough,
                      &file))
            break;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (!file)
        return false;
    if (!IsPlainNewFile(file.get()) || !WriteBytes(file.get(), "\xEF\xBB\xBF")) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    LogTarget& target = Target();
    std::lock_guard<std::mutex> hold(target.lock);
    target.file = std::move(file);
    target.path = JoinPath(folder.finalPath, opened);
    return true;
}

bool AdoptInstallLog(HANDLE handle)
{
    if (!handle || handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK)
        return false;
    // Only a handle opened as a log is (appending, nothing else): a number
    // that happens to name another file the process holds is not written to.
    PUBLIC_OBJECT_BASIC_INFORMATION basic{};
    if (::NtQueryObject(handle, ObjectBasicInformation, &basic, sizeof(basic), nullptr) < 0 ||
        (basic.GrantedAccess & (FILE_APPEND_DATA | FILE_WRITE_DATA)) != FILE_APPEND_DATA)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    LogTarget& target = Target();
    std::lock_guard<std::mutex> hold(target.lock);
    target.file.reset(handle);
    std::wstring where(MAX_PATH, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(handle, where.data(), static_cast<DWORD>(where.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    where.resize(length < where.size() ? length : 0);
    target.path = where.starts_with(L"\\\\?\\") ? where.substr(4) : where;
    return true;
}

HANDLE InstallLogHandle()
{
    LogTarget& target = Target();
    std::lock_guard<std::mutex> hold(target.lock);
    return target.file ? target.file.get() : nullptr;
}

std::wstring InstallLogPath()
{
    LogTarget& target = Target();
    std::lock_guard<std::mutex> hold(target.lock);
    return target.file ? target.path : std::wstring();
}

void LogLine(const std::wstring& text)
{
    LogTarget& target = Target();
    std::lock_guard<std::mutex> hold(target.lock);
    if (!target.file)
        return;
    // One line per entry, whatever the text holds: a box's sentence on two
    // lines stays one entry.
    std::wstring line = TimeStamp();
    for (wchar_t c : text)
        line += c == L'\r' || c == L'\n' ? L' ' : c;
    while (!line.empty() && line.back() == L' ')
        line.pop_back();
    WriteBytes(target.file.get(), Utf8(line + L"\r\n"));
}

std::wstring Win32ErrorText(DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    return text.empty() ? L"unknown error" : text;
}

void LogFailure(const std::wstring& what, DWORD error)
{
    if (error == ERROR_SUCCESS)
        LogLine(what);
    else
        LogLine(what + L"; Win32 error " + std::to_wstring(error) + L": " + Win32ErrorText(error));
}

void LogRunHeader(const std::wstring& program, const std::wstring& product, const std::wstring& version)
{
    LogLine(program + L" log; command line: " + ::GetCommandLineW());
    LogLine(L"program: " + ModulePath());
    LogLine(L"product: " + (product.empty() ? std::wstring(L"(no configuration)") : product) + L", version " +
            (version.empty() ? std::wstring(L"(none)") : version));
    // The version the system really is (a program without a manifest is
    // told an older one), and the one the installer's choices follow.
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW real{};
    real.dwOSVersionInfoSize = sizeof(real);
    const auto getVersion =
        reinterpret_cast<GetVersion>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (!getVersion || getVersion(&real) != 0)
        real = OSVERSIONINFOW{};
    const std::string name = GetWindowsVersionName();
    const std::wstring named = name == kUnknownWindowsName ? std::wstring(L"unknown") : std::wstring(name.begin(), name.end());
    LogLine(L"system: Windows " + std::to_wstring(real.dwMajorVersion) + L"." + std::to_wstring(real.dwMinorVersion) +
            L"." + std::to_wstring(real.dwBuildNumber) + L" (" + named + L" to the installer), ANSI code page " +
            std::to_wstring(::GetACP()) + L", OEM code page " + std::to_wstring(::GetOEMCP()));
}

void StartInstallLog(const std::wstring& path, const std::wstring& program, const std::wstring& task,
                     const std::wstring& product, const std::wstring& version, bool silent,
                     const std::wstring& interactiveMode)
{
    const std::wstring programStem = program.substr(0, program.rfind(L'.'));
    if (!OpenInstallLog(path, LogNameStem(product.empty() ? programStem : product + L"-" + task)))
        return;
    LogRunHeader(program, product, version);
    LogLine(L"mode: " + (silent ? std::wstring(L"silent (/S)") : interactiveMode));
}
