#include "system/paths.h"

#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool IsReservedDeviceName(std::wstring_view level)
{
    // Windows reserves these names with any extension and trailing spaces.
    const size_t dot = level.find(L'.');
    std::wstring base(level.substr(0, dot));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (auto& c : base)
        c = static_cast<wchar_t>(std::towupper(c));
    static constexpr const wchar_t* kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (base == device)
            return true;
    }
    if (base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT")))
        return base[3] >= L'0' && base[3] <= L'9';
    return false;
}

bool IsSafeLevel(std::wstring_view level)
{
    // A level of dots and spaces only is empty, ".", ".." or what Windows
    // trims to one of them.
    if (level.find_first_not_of(L". ") == std::wstring_view::npos)
        return false;
    for (const wchar_t c : level) {
        if (c < 0x20 || std::wcschr(L"<>:\"|?*", c))
            return false;
    }
    return !IsReservedDeviceName(level);
}

}  // namespace

bool SameText(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring TextKey(std::wstring text)
{
    ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder)
{
    if (path.size() < folder.size() || !SameText(std::wstring_view(path).substr(0, folder.size()), folder))
        return false;
    return path.size() == folder.size() || path[folder.size()] == L'\\';
}

std::wstring LongPathOf(const std::wstring& path)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return path;
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
    return path;
}

std::wstring ModulePath(HMODULE module)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring TempDirectory()
{
    // The wide call: passing the path through the ANSI code page loses every
    // character it cannot hold (a user name in another script), and the
    // result would name a folder that does not exist.
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return {};
    wchar_t longPath[MAX_PATH] = {};
    const DWORD longLength = ::GetLongPathNameW(temp, longPath, MAX_PATH);
    if (longLength == 0 || longLength >= MAX_PATH)
        return std::wstring(temp, length);
    return std::wstring(longPath, longLength);
}

std::wstring JoinPath(const std::wstring& directory, const std::wstring& name)
{
    if (directory.empty())
        return {};
    if (directory.back() == L'\\')
        return directory + name;
    return directory + L"\\" + name;
}

std::wstring ParentOf(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos)
        return {};
    if (slash == 2 && path[1] == L':')
        return path.size() > 3 ? path.substr(0, 3) : std::wstring();
    return path.substr(0, slash);
}

std::wstring NameOf(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool IsSafeEntryName(const wchar_t* name)
{
    if (!name || !*name)
        return false;
    const std::wstring_view whole(name);
    size_t start = 0;
    while (true) {
        size_t end = start;
        while (end < whole.size() && !IsSeparator(whole[end]))
            ++end;
        if (!IsSafeLevel(whole.substr(start, end - start)))
            return false;
        if (end == whole.size())
            return true;
        start = end + 1;
    }
}
