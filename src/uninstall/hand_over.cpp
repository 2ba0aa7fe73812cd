#include "uninstall/hand_over.h"

#include "config/config.h"
#include "system/paths.h"
#include "system/private_folder.h"


#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Far larger than the uninstaller; a bigger file is not this program.
constexpr size_t kLargestProgram = 64u << 20;
constexpr wchar_t kCopyName[] = L"uninst.exe";
// The original ends as soon as it reads the report.
constexpr DWORD kOriginalEndMs = 30000;

// path split at its last backslash (a drive root keeps its own).
bool SplitPath(const std::wstring& path, std::wstring* folder, std::wstring* name)
{
    *folder = ParentOf(path);
    *name = NameOf(path);
    return !folder->empty() && !name->empty();
}

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// A new private folder setup-uninst-<pid>-<n> in parent, held without
// delete sharing so that nobody renames it and puts another in its place.
// path receives it once it is made, held or not, so that it can be removed.
bool MakeOwnFolder(const std::wstring& parent, HeldFolder* folder, std::wstring* path)
{
    for (unsigned n = 0; n < 100; ++n) {
        const std::wstring candidate = JoinPath(
            parent, L"setup-uninst-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(n));
        if (CreatePrivateFolder(candidate)) {
            *path = candidate;
            return OpenFolderNoFollow(candidate, FILE_SHARE_READ | FILE_SHARE_WRITE, folder);
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

// Writes image as the copy in folder and holds it without write or delete
// sharing, read back through that hold: from then until the hold ends the
// file is the one written, whatever the folder's access list lets others do.
bool WriteHeldCopy(const HeldFolder& folder, const std::string& image, UniqueFile* copy)
{
    if (!WriteNewChildFile(folder, kCopyName, image) ||
        !OpenChild(folder, kCopyName, GENERIC_READ, FILE_SHARE_READ, kFileOpen, kNonDirectoryFile, copy))
        return false;
    std::string written(image.size(), '\0');
    DWORD read = 0;
    return ::ReadFile(copy->get(), written.data(), static_cast<DWORD>(written.size()), &read, nullptr) &&
           read == written.size() && written == image;
}

// The image's file headers as the loader mapped them: the same file on the
// disk has the same ones. (ImageBase is left out: a loader that relocates
// the image may write the base it chose.)
bool SameHeaders(const std::string& file, HMODULE module)
{
    const auto* mapped = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    if (file.size() < sizeof(IMAGE_DOS_HEADER) || mapped->e_magic != IMAGE_DOS_SIGNATURE ||
        std::memcmp(file.data(), mapped, sizeof(IMAGE_DOS_HEADER)) != 0)
        return false;
    const size_t at = static_cast<size_t>(mapped->e_lfanew);
    if (file.size() < at + sizeof(IMAGE_NT_HEADERS))
        return false;
    const auto* ours = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + at);
    IMAGE_NT_HEADERS theirs;
    std::memcpy(&theirs, file.data() + at, sizeof(theirs));
    return theirs.Signature == ours->Signature &&
           std::memcmp(&theirs.FileHeader, &ours->FileHeader, sizeof(theirs.FileHeader)) == 0 &&
           theirs.OptionalHeader.AddressOfEntryPoint == ours->OptionalHeader.AddressOfEntryPoint &&
           theirs.OptionalHeader.SizeOfCode == ours->OptionalHeader.SizeOfCode &&
           theirs.OptionalHeader.SizeOfInitializedData == ours->OptionalHeader.SizeOfInitializedData &&
           theirs.OptionalHeader.SizeOfImage == ours->OptionalHeader.SizeOfImage &&
           theirs.OptionalHeader.SizeOfHeaders == ours->OptionalHeader.SizeOfHeaders &&
           theirs.OptionalHeader.CheckSum == ours->OptionalHeader.CheckSum;
}

// The whole file behind image, read from its start through the handle.
bool ReadHeld(HANDLE image, std::string* bytes)
{
    LARGE_INTEGER size{};
    LARGE_INTEGER start{};
    if (!::GetFileSizeEx(image, &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > kLargestProgram ||
        !::SetFilePointerEx(image, start, nullptr, FILE_BEGIN))
        return false;
    std::string read(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!::ReadFile(image, read.data(), static_cast<DWORD>(read.size()), &got, nullptr) || got != read.size())
        return false;
    *bytes = std::move(read);
    return true;
}

std::wstring HandleText(HANDLE handle)
{
    return std::to_wstring(reinterpret_cast<uintptr_t>(handle));
}

}  // namespace

bool RemovePatiently(const std::function<bool()>& removal)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (removal())
            return true;
        ::Sleep(250);
    }
    return false;
}

bool OpenOwnImage(UniqueFile* image)
{
    const std::wstring self = ModulePath();
    if (self.empty())
        return false;
    UniqueFile file(::CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    std::string bytes;
    if (!file || !::GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !ReadHeld(file.get(), &bytes) || !SameHeaders(bytes, ::GetModuleHandleW(nullptr)))
        return false;
    *image = std::move(file);
    return true;
}

int RunCopy(UniqueFile image, const std::wstring& arguments)
{
    const std::wstring temp = TempDirectory();
    const std::wstring system = SystemFolder();
    std::string bytes;
    HeldFolder folder;
    std::wstring folderPath;
    // Neither program may have its current folder in the installation: that
    // would keep the folder from going.
    if (temp.empty() || system.empty() || !::SetCurrentDirectoryW(system.c_str()) ||
        !ReadHeld(image.get(), &bytes) || !MakeOwnFolder(temp, &folder, &folderPath)) {
        if (!folderPath.empty())
            DeleteTree(folderPath);
        return 1;
    }
    const std::wstring program = JoinPath(folderPath, kCopyName);
    UniqueFile copy;
    UniqueHandle readEnd, writeEnd, ownProcess;
    SECURITY_ATTRIBUTES inherited{sizeof(inherited), nullptr, TRUE};
    PROCESS_INFORMATION info{};
    bool started = WriteHeldCopy(folder, bytes, &copy) &&
                   ::CreatePipe(readEnd.put(), writeEnd.put(), &inherited, sizeof(int)) &&
                   ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0) &&
                   ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
                                     ownProcess.put(), SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0);
    // The copy opens the original's file to move it aside, which the hold
    // would refuse; the bytes it runs are already the held ones.
    image.reset();
    if (started) {
        std::wstring commandLine = L"\"" + program + L"\" " + arguments + L" /_wait=" + HandleText(ownProcess.get()) +
                                   L" /_report=" + HandleText(writeEnd.get());
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   system.c_str(), &startup, &info);
    }
    copy.reset();
    folder.handle.reset();
    if (!started) {
        DeleteTree(folderPath);
        return 1;
    }
    const UniqueHandle process(info.hProcess);
    ::CloseHandle(info.hThread);
    // Only the copy holds the write end now: the read fails when it ends
    // without a report.
    writeEnd.reset();
    ownProcess.reset();
    int code = 0;
    DWORD read = 0;
    if (::ReadFile(readEnd.get(), &code, sizeof(code), &read, nullptr) && read == sizeof(code))
        return code;
    DWORD exitCode = 1;
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &exitCode);
    return static_cast<int>(exitCode);
}

Original::Original(HANDLE process, HANDLE report)
{
    const DWORD id = process ? ::GetProcessId(process) : 0;
    if (id != 0 && id != ::GetCurrentProcessId())
        process_.reset(process);
    if (report && ::GetFileType(report) == FILE_TYPE_PIPE)
        report_.reset(report);
}

bool Original::StepAside(const std::wstring& path, const std::wstring& installFolder)
{
    if (!IsWaiting())
        return true;
    std::wstring folderPath, name, parent, unused;
    HeldFolder from;
    UniqueFile file;
    if (!SplitPath(path, &folderPath, &name) || !SplitPath(installFolder, &parent, &unused) ||
        !OpenFolderNoFollow(folderPath, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &from) ||
        !OpenChild(from, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen,
                   kNonDirectoryFile, &file) ||
        !MakeOwnFolder(parent, &aside_, &asidePath_))
        return false;
    // Renamed through its handle into the held folder: neither side is
    // looked up by path again. A running program's file can be renamed.
    return RenameInto(file.get(), aside_, name, false);
}

void Original::Report(int code)
{
    if (report_) {
        DWORD written = 0;
        ::WriteFile(report_.get(), &code, sizeof(code), &written, nullptr);
    }
    report_.reset();
    if (process_)
        ::WaitForSingleObject(process_.get(), kOriginalEndMs);
    process_.reset();
    if (!asidePath_.empty()) {
        aside_.handle.reset();
        RemovePatiently([&] { return DeleteTree(asidePath_); });
    }
}

void RemoveCopyAtRestart(const std::wstring& self, bool handedOver)
{
    ::MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    // The folder after its file: the restart deletes in the order given,
    // and a folder only when it is empty.
    std::wstring folder, name;
    if (handedOver && SplitPath(self, &folder, &name))
        ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}
