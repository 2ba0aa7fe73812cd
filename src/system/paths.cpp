#include "system/paths.h"

#include <vector>

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
