// The installer's configuration: the INI text carried in the executable,
// read once at start into an object in memory that every reader asks. The
// elevated installer never reads a setting back from a file that another
// program could change: the copy it writes to the run's temporary folder
// (run_copy.h), with the chosen folder added, is for whoever looks at it,
// not for itself.
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
