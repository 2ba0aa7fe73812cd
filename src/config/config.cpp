#include "config/config.h"

#include "system/file_ops.h"

#include <iterator>

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

std::wstring ConfigFilePath() { return JoinPath(TempDirectory(), kConfigFileName); }

// An empty file name is never handed to the profile functions: they would
// read and write win.ini instead.
std::wstring ReadConfigString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                              const std::wstring& defaultValue)
{
    wchar_t value[kMaxConfigValueLength + 1] = {};
    if (file.empty()) {
        ::lstrcpynW(value, defaultValue.c_str(), static_cast<int>(std::size(value)));
        return value;
    }
    ::GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(), value,
                               static_cast<DWORD>(std::size(value)), file.c_str());
    return value;
}

int ReadConfigInt(const std::wstring& file, const std::wstring& section, const std::wstring& key, int defaultValue)
{
    if (file.empty())
        return defaultValue;
    return static_cast<int>(::GetPrivateProfileIntW(section.c_str(), key.c_str(), defaultValue, file.c_str()));
}

bool WriteConfigString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                       const std::wstring& value)
{
    if (file.empty())
        return false;
    return ::WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != 0;
}

int WriteConfigFile(HMODULE module)
{
    const std::wstring path = ConfigFilePath();
    if (path.empty())
        return 0;
    return WriteResourceToFile(module, path.c_str(), kConfigResourceId, kConfigResourceType);
}

void DeleteConfigFile()
{
    const std::wstring path = ConfigFilePath();
    if (!path.empty() && FileExists(path.c_str()))
        DeletePath(path.c_str());
}

std::wstring ReadSetting(const std::wstring& key, const std::wstring& defaultValue)
{
    return ReadConfigString(ConfigFilePath(), kConfigSection, key, defaultValue);
}

int ReadSettingInt(const std::wstring& key, int defaultValue)
{
    return ReadConfigInt(ConfigFilePath(), kConfigSection, key, defaultValue);
}

bool WriteSetting(const std::wstring& key, const std::wstring& value)
{
    return WriteConfigString(ConfigFilePath(), kConfigSection, key, value);
}
