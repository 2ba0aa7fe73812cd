#include "support/test_support.h"
#include "support/test_paths.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace testing_support {

std::wstring AccessListOf(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring list;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                          &descriptor) == ERROR_SUCCESS) {
        LPWSTR text = nullptr;
        if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                   DACL_SECURITY_INFORMATION, &text, nullptr)) {
            list = text;
            ::LocalFree(text);
        }
        ::LocalFree(descriptor);
    }
    ::CloseHandle(file);
    return list;
}


std::wstring Utf8ToWide(const std::string& text) { return FromCodePage(text, CP_UTF8); }

std::wstring FromCodePage(const std::string& bytes, UINT codePage)
{
    if (bytes.empty())
        return {};
    const int units = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), units);
    return wide;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr,
                          nullptr);
    return utf8;
}

std::wstring FixturePath(const std::wstring& relative)
{
    return std::wstring(kFixturesFolder) + L"\\" + relative;
}

std::wstring TestSourcePath(const std::wstring& relative)
{
    return std::wstring(kTestSourcesFolder) + L"\\" + relative;
}

void RemoveTree(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL | (attributes & FILE_ATTRIBUTE_DIRECTORY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(path + L"\\" + name);
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + WideToUtf8(path));
    std::string bytes;
    char chunk[1 << 16];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    ::CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create " + WideToUtf8(path));
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

namespace {

void CollectTree(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, std::string>& tree)
{
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::wstring> folders;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring entry = relative.empty() ? name : relative + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[entry] = "<dir>";
            folders.push_back(entry);
        } else {
            tree[entry] = ReadBytes(root + L"\\" + entry);
        }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    for (const auto& entry : folders)
        CollectTree(root, entry, tree);
}

}  // namespace

std::vector<std::wstring> Listing(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(data.cFileName);
    while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

std::map<std::wstring, std::string> ReadTree(const std::wstring& root)
{
    std::map<std::wstring, std::string> tree;
    CollectTree(root, L"", tree);
    return tree;
}

std::string TreeChanges(const std::map<std::wstring, std::string>& before,
                        const std::map<std::wstring, std::string>& after)
{
    std::string changes;
    for (const auto& [path, bytes] : after) {
        const auto old = before.find(path);
        if (old == before.end())
            changes += "+ " + WideToUtf8(path) + "\n";
        else if (old->second != bytes)
            changes += "~ " + WideToUtf8(path) + "\n";
    }
    for (const auto& [path, bytes] : before) {
        if (!after.contains(path))
            changes += "- " + WideToUtf8(path) + "\n";
    }
    return changes;
}

ScratchDir::ScratchDir()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
    // The same case runs under two code pages at once; each has its own.
    if (::GetACP() != 936)
        name += ".cp" + std::to_string(::GetACP());
    for (auto& c : name) {
        if (c == '/')
            c = '_';
    }
    const std::wstring base = kScratchFolder;
    ::CreateDirectoryW(base.c_str(), nullptr);
    path_ = base + L"\\" + Utf8ToWide(name);
    RemoveTree(path_);
    if (!::CreateDirectoryW(path_.c_str(), nullptr))
        throw std::runtime_error("cannot create scratch folder " + name);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(20);
    }
}

}  // namespace testing_support
