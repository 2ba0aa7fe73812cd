// The installer's configuration: the INI text carried in the executable,
// read once at start into an object in memory that every reader asks. The
// elevated installer never reads a setting back from a file that another
// program could change: the copy it writes to the run's temporary folder,
// with the chosen folder added, is for whoever looks at it, not for itself.
#pragma once

#include "system/paths.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const wchar_t* kConfigFileName = L"incfg.ini";
inline constexpr const wchar_t* kConfigSection = L"IN_INFO";
inline constexpr int kConfigResourceId = 138;
inline constexpr const wchar_t* kConfigResourceType = L"INI";
// The configuration text is GBK whatever the system's code page.
inline constexpr UINT kConfigCodePage = 936;

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
// Folders of the installation (relative, ";" between them) that the game
// itself writes: made when missing and writable by Users.
inline constexpr const wchar_t* kKeyWritableDirs = L"OBJ_IN_WRITABLE_DIRS";

// What the reader of OBJ_IN_FOLDER passes when the key is absent.
inline constexpr const wchar_t* kDefaultFolderName = L"Marvane";

// A string value longer than this many characters comes back cut to it.
inline constexpr size_t kMaxConfigValueLength = 259;

// A configuration text, read the way the profile functions read a file:
// keys and sections case-insensitively, the first of a name, the value
// trimmed of spaces and of one pair of enclosing quotes. The installer reads
// its own once at start and hands the value to whoever needs a setting.
class Configuration {
public:
    Configuration() = default;
    // GBK, or UTF-8 or UTF-16 after a byte-order mark.
    explicit Configuration(std::string_view bytes);
    // Resource "INI" 138 of module (null: the running executable); false
    // when it has none, and *configuration is left as it was.
    static bool FromResource(HMODULE module, Configuration* configuration);

    // The value of key in section, cut to kMaxConfigValueLength characters;
    // defaultValue (without trailing spaces, cut likewise) when it is absent.
    std::wstring Read(const std::wstring& section, const std::wstring& key,
                      const std::wstring& defaultValue = L"") const;
    // The profile functions' integer reading of the value (leading spaces,
    // a sign, 0x/0o/0b prefixes, digits up to the first other character):
    // defaultValue when the key is absent or empty; 0 when the text does not
    // begin with a number.
    int ReadInt(const std::wstring& section, const std::wstring& key, int defaultValue = 0) const;
    // Section IN_INFO, where every setting of the installer lives.
    std::wstring Setting(const std::wstring& key, const std::wstring& defaultValue = L"") const
    {
        return Read(kConfigSection, key, defaultValue);
    }
    int SettingInt(const std::wstring& key, int defaultValue = 0) const
    {
        return ReadInt(kConfigSection, key, defaultValue);
    }

    void Set(const std::wstring& section, const std::wstring& key, const std::wstring& value);

    // The text: the bytes it was made from while nothing was set; else GBK
    // when every character fits and UTF-16 with a byte-order mark when not.
    std::string Bytes() const;

private:
    bool Find(const std::wstring& section, const std::wstring& key, std::wstring* value) const;
    size_t FindSection(const std::wstring& section) const;
    size_t FindKey(const std::wstring& section, const std::wstring& key) const;

    std::vector<std::wstring> lines_;
    bool endsWithLineEnd_ = false;
    std::optional<std::string> bytes_;
};

// The folder of this run's temporary files, inside TempDirectory(): made new
// on first use under a name no other run holds, so that two installers never
// touch each other's files, and held open so that it cannot be renamed or
// replaced while the run uses it. Empty when it cannot be made.
std::wstring RunFolder();

// Removes this run's folder with the files the run put there (a file
// someone else added keeps it in place); the next RunFolder() makes a new
// one. The application calls it as it ends, however the wizard ended.
void RemoveRunFolder();

// incfg.ini in RunFolder(); empty when the run has no folder.
std::wstring ConfigFilePath();

// The configuration object of file: the text WriteConfigFile or
// LoadConfigText gave it, with the values WriteConfigString set since.
// Nothing reads the file itself. Keys and sections are found as the profile
// functions find them: case-insensitively, the first of a name, the value
// trimmed of spaces and of one pair of enclosing quotes.

// The value of key in section, cut to kMaxConfigValueLength characters;
// defaultValue (without trailing spaces, cut likewise) when the key is
// absent, or file has no object or is empty.
std::wstring ReadConfigString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                              const std::wstring& defaultValue);

// The profile functions' integer reading of the value (leading spaces, a
// sign, 0x/0o/0b prefixes, digits up to the first other character):
// defaultValue when the key is absent or empty, or file has no object or is
// empty; 0 when the text does not begin with a number.
int ReadConfigInt(const std::wstring& file, const std::wstring& section, const std::wstring& key, int defaultValue);

// Sets the value in file's object (making an empty one when it has none)
// and writes the object's text to file, in GBK when every character fits
// and else in UTF-16 with a byte-order mark. True when the file was written;
// false when file is empty or the write failed (the object keeps the value).
bool WriteConfigString(const std::wstring& file, const std::wstring& section, const std::wstring& key,
                       const std::wstring& value);

// Makes bytes (a configuration text: GBK, or UTF-8 or UTF-16 after a
// byte-order mark) the object of file, replacing an earlier one. Writes
// nothing.
void LoadConfigText(const std::wstring& file, std::string_view bytes);

// Reads resource "INI" 138 of module (null: the running executable) into the
// object of ConfigFilePath(), and writes it to that file byte for byte,
// replacing an earlier file. The file stays open, shared for reading only,
// until DeleteConfigFile or RemoveRunFolder: no other program can change or
// replace it meanwhile. 1 when the object was loaded and the file written;
// 0 when the resource is missing, the path is empty, or the file cannot be
// created or written (the object is still loaded when the resource is
// there and the path is not empty).
int WriteConfigFile(HMODULE module = nullptr);
// The same with a configuration already read.
int WriteConfigFile(const Configuration& configuration);

// Removes ConfigFilePath() and its object. Nothing is reported.
void DeleteConfigFile();

// The pattern every reader uses: section IN_INFO of ConfigFilePath().
std::wstring ReadSetting(const std::wstring& key, const std::wstring& defaultValue = L"");
int ReadSettingInt(const std::wstring& key, int defaultValue = 0);
bool WriteSetting(const std::wstring& key, const std::wstring& value);
