// The installer's configuration file: the INI text carried in the executable,
// written to the temporary directory and read back one key at a time through
// the profile functions. Nothing is cached: every read asks the file again,
// so a value one page writes is what the next reader anywhere sees.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kConfigFileName = L"incfg.ini";
inline constexpr const wchar_t* kConfigSection = L"IN_INFO";
inline constexpr int kConfigResourceId = 138;
inline constexpr const wchar_t* kConfigResourceType = L"INI";

inline constexpr const wchar_t* kKeyCaption = L"OBJ_IN_CAPTION";
inline constexpr const wchar_t* kKeyPublisher = L"OBJ_IN_PUBLISHER";
inline constexpr const wchar_t* kKeyDisplayName = L"OBJ_IN_DISPLAY_NAME";
inline constexpr const wchar_t* kKeyFolder = L"OBJ_IN_FOLDER";
inline constexpr const wchar_t* kKeyDisplayVersion = L"OBJ_IN_DISPLAY_VERSION";
inline constexpr const wchar_t* kKeySize = L"OBJ_IN_SIZE";
inline constexpr const wchar_t* kKeyExe = L"OBJ_IN_EXE";
inline constexpr const wchar_t* kKeyExeLink = L"OBJ_IN_EXE_LINK";
inline constexpr const wchar_t* kKeyUninstallExe = L"OBJ_IN_UNINSTALL_EXE";
inline constexpr const wchar_t* kKeyRepairExeCmd = L"OBJ_IN_REPAIR_EXE_CMD";
inline constexpr const wchar_t* kKeyRepairExe = L"OBJ_IN_REPAIR_EXE";
inline constexpr const wchar_t* kKeyRepairExeLink = L"OBJ_IN_REPAIR_EXE_LINK";
inline constexpr const wchar_t* kKeyUserDataFile = L"OBJ_IN_USERDATA_FILE";
inline constexpr const wchar_t* kKeySetupDir = L"OBJ_IN_SETUP_DIR";
inline constexpr const wchar_t* kKeyCompleteUrl = L"OBJ_IN_COMPLETE_URL";

// What the reader of OBJ_IN_FOLDER passes when the key is absent.
inline constexpr const wchar_t* kDefaultFolderName = L"Marvane";

// A string value longer than this many characters comes back cut to it.
inline constexpr size_t kMaxConfigValueLength = 259;

// The user's temporary directory with its trailing backslash, in its long
// form when the system can give it (else as the system reports it). Empty
// when the system reports none or it would need 260 characters or more.
std::wstring TempDirectory();

// The directory, one backslash (none added when it already ends with one)
// and the name. An empty directory yields an empty string: a missing base
// must never turn the name into a relative path.
std::wstring JoinPath(const std::wstring& directory, const std::wstring& name);

// incfg.ini in TempDirectory(); empty when the temporary directory is.
std::wstring ConfigFilePath();

// The value of key in section, cut to kMaxConfigValueLength characters;
// defaultValue when the key or the file is absent or file is empty.
std::wstring ReadConfigString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                              const std::wstring& defaultValue);

// The profile functions' integer reading of the value: defaultValue when the
// key or the file is absent or file is empty, 0 when the text does not begin
// with a number.
int ReadConfigInt(const std::wstring& file, const std::wstring& section, const std::wstring& key, int defaultValue);

// True when the value was written; false when file is empty or the write
// failed.
bool WriteConfigString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                       const std::wstring& value);

// Writes resource "INI" 138 of module (null: the running executable) to
// ConfigFilePath(), byte for byte, replacing an earlier file. 1 on success;
// 0 when the resource is missing, the path is empty, or the file cannot be
// created or written.
int WriteConfigFile(HMODULE module = nullptr);

// Removes ConfigFilePath() when it exists. Nothing is reported.
void DeleteConfigFile();

// The pattern every reader uses: section IN_INFO of ConfigFilePath().
std::wstring ReadSetting(const std::wstring& key, const std::wstring& defaultValue = L"");
int ReadSettingInt(const std::wstring& key, int defaultValue = 0);
bool WriteSetting(const std::wstring& key, const std::wstring& value);
