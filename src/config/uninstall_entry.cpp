// The uninstall entry written from the configuration; the registry parts
// it uses are in sp_system.
#include "config/config.h"
#include "config/uninstall_entry.h"
#include "system/trace.h"
#include "system/uninstall.h"

bool RegisterUninstall(const Configuration& configuration, const std::wstring& installDir)
{
    const std::wstring displayName = configuration.Setting(kKeyDisplayName);
    const std::wstring publisher = configuration.Setting(kKeyPublisher);
    const std::wstring displayVersion = configuration.Setting(kKeyDisplayVersion);
    const std::wstring exe = configuration.Setting(kKeyExe);
    const std::wstring uninstallExe = configuration.Setting(kKeyUninstallExe);

    const std::wstring keyPath = UninstallKeyPath(displayName);
    // Without the installation folder the entry would point at no program.
    if (keyPath.empty() || installDir.empty())
        return false;

    RegKey key;
    if (!key.RecreateKey(HKEY_LOCAL_MACHINE, keyPath)) {
        key.Close();
        return false;
    }
    const struct {
        const wchar_t* name;
        const wchar_t* trace;
        std::wstring data;
    } values[] = {
        {L"Publisher", L"写注册表 Publisher\r\n", publisher},
        {L"DisplayName", L"写注册表 DisplayName\r\n", displayName},
        {L"DisplayVersion", L"写注册表 DisplayVersion\r\n", displayVersion},
        {L"DisplayIcon", L"写注册表 DisplayIcon\r\n", JoinPath(installDir, exe) + L",-0"},
        // Quoted: the system runs the text as a command line, and a folder with
        // a space (Program Files) would otherwise start D:\Program.exe.
        {L"UninstallString", L"写注册表 UninstallString\r\n", L"\"" + JoinPath(installDir, uninstallExe) + L"\""},
    };
    for (const auto& value : values) {
        InstallTrace(value.trace);
        if (!key.SetString(value.name, value.data.c_str())) {
            key.Close();
            return false;
        }
    }
    key.Close();
    return true;
}
