// uninst.exe, the uninstaller of every installation this installer makes:
// removes what the installer made for the installation it lies in.
//
//   uninst.exe [/S] [/LOG[=file]]
//
// /LOG writes a log of the run (system/install_log.h); the copy that does
// the removing writes into the same file, through the handle it inherits
// (/_log=).
// /S is silent: no question, no message at the end, and the user data file
// stays. Otherwise the user is asked once whether to remove the product,
// then whether to keep the user data file (kept unless the user says no),
// and told the outcome.
//
// Its resource INI 138 is the configuration of the product it belongs to
// (make-installer stores the product's own there): where it lies in the
// installation (OBJ_IN_UNINSTALL_EXE), the main program (OBJ_IN_EXE) and the
// user data file (OBJ_IN_USERDATA_FILE). The rest comes from what the
// installation left (see removal_plan.h): this file only asks, has the plan
// made and carried out, and tells the outcome.
//
// A running program cannot delete its own file, so the copy in the
// installation folder only asks, then starts a copy of itself from a folder
// of its own with /_from=<its own path> and /_keep=<0 or 1> and waits for it
// (see hand_over.h). Both end with the copy's outcome, so a script running
// "uninst.exe /S" learns how the removal ended, and the system's list of
// programs is read again only once it has: 0 when everything was removed,
// 1 when something was left, 2 when the folder was refused (nothing
// removed), 3 when the program carries no configuration.
#include "config/config.h"
#include "framework/safe_loading.h"
#include "system/install_log.h"
#include "system/paths.h"
#include "uninstall/hand_over.h"
#include "uninstall/removal_plan.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kCaption[] = L"卸载程序";

struct Options {
    bool silent = false;
    bool keepUserData = true;
    std::wstring from;        // the original uninstaller's path; empty in the original
    HANDLE wait = nullptr;    // the original's process, inherited
    HANDLE report = nullptr;  // the pipe the original reads the outcome from, inherited
    bool log = false;         // /LOG or /LOG=file
    std::wstring logFile;
    HANDLE logHandle = nullptr;  // the original's log, inherited
};

HANDLE HandleArgument(const wchar_t* text)
{
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(text, nullptr, 10)));
}

Options ParseOptions()
{
    Options options;
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!args)
        return options;
    for (int i = 1; i < count; ++i) {
        const wchar_t* arg = args[i];
        if (::lstrcmpiW(arg, L"/S") == 0)
            options.silent = true;
        else if (::_wcsnicmp(arg, L"/_from=", 7) == 0)
            options.from = arg + 7;
        else if (::lstrcmpiW(arg, L"/_keep=0") == 0)
            options.keepUserData = false;
        else if (::_wcsnicmp(arg, L"/_wait=", 7) == 0)
            options.wait = HandleArgument(arg + 7);
        else if (::_wcsnicmp(arg, L"/_report=", 9) == 0)
            options.report = HandleArgument(arg + 9);
        else if (::_wcsnicmp(arg, L"/_log=", 6) == 0)
            options.logHandle = HandleArgument(arg + 6);
        else if (::lstrcmpiW(arg, L"/LOG") == 0 || ::_wcsnicmp(arg, L"/LOG=", 5) == 0) {
            options.log = true;
            options.logFile = arg[4] ? arg + 5 : L"";
        }
    }
    ::LocalFree(args);
    return options;
}

// The one place the configuration is read: the settings the removal
// needs, all empty when the program carries no configuration.
ProductSettings ReadProduct()
{
    // Straight out of the program's own resource: nothing is written to
    // read it back.
    ProductSettings product;
    Configuration configuration;
    if (!Configuration::FromResource(nullptr, &configuration))
        return product;
    product.displayName = configuration.Setting(kKeyDisplayName);
    product.uninstaller = configuration.Setting(kKeyUninstallExe);
    product.mainProgram = configuration.Setting(kKeyExe);
    product.userDataFile = configuration.Setting(kKeyUserDataFile);
    for (std::wstring* path : {&product.uninstaller, &product.mainProgram, &product.userDataFile})
        std::replace(path->begin(), path->end(), L'/', L'\\');
    return product;
}

std::wstring ProductName(const std::vector<Registration>& registrations, const ProductSettings& product)
{
    if (!registrations.empty())
        return registrations.front().displayName;
    return product.displayName.empty() ? std::wstring(L"本程序") : product.displayName;
}

// What the user is told of how the removal ended.
struct Message {
    std::wstring text;
    UINT icon = MB_ICONINFORMATION;
};

Message Tell(RemovalOutcome outcome, const RemovalPlan& plan, const ProductSettings& product, bool folderKept)
{
    switch (outcome) {
    case RemovalOutcome::NoConfiguration:
        return {L"卸载程序缺少产品的配置信息，未删除任何内容。", MB_ICONERROR};
    case RemovalOutcome::FolderRefused:
        return {plan.installFolder + L" 不是本程序的安装文件夹，卸载程序未删除任何内容。", MB_ICONERROR};
    case RemovalOutcome::SomethingLeft:
        return {L"部分项目未能删除，请手动删除：\r\n" + plan.installFolder, MB_ICONWARNING};
    case RemovalOutcome::Removed:
        break;
    }
    if (folderKept)
        return {ProductName(plan.registrations, product) + L" 已从您的电脑中删除。您自己的文件（存档、截图等）已保留在：\r\n" +
                    plan.installFolder,
                MB_ICONINFORMATION};
    return {ProductName(plan.registrations, product) + L" 已从您的电脑中删除。", MB_ICONINFORMATION};
}

// The copy, outside the installation folder: everything is removed from here.
RemovalOutcome RemoveInstallation(const Options& options, Original* original, Message* message)
{
    const ProductSettings product = ReadProduct();
    RemovalPlan plan;
    RemovalOutcome outcome = RemovalOutcome::Removed;
    const bool planned = PlanRemoval(product, options.from, options.keepUserData, &plan, &outcome);
    LogLine(L"installation folder: " + (plan.installFolder.empty() ? std::wstring(L"(none found)") : plan.installFolder) +
            (options.keepUserData ? L"; the user data file stays" : L"; the user data file goes too"));
    bool folderKept = false;
    if (planned)
        outcome = CarryOut(plan, original, &folderKept);
    *message = Tell(outcome, plan, product, folderKept);
    LogLine(std::wstring(outcome == RemovalOutcome::Removed         ? L"removed"
                         : outcome == RemovalOutcome::SomethingLeft ? L"failed in part: something was left"
                         : outcome == RemovalOutcome::FolderRefused ? L"refused: nothing removed"
                                                                    : L"refused: no configuration") +
            L" (told: " + message->text + L")");
    return outcome;
}

// The copy in the installation folder: ask, hand over to a copy of itself
// outside the folder and wait for its outcome.
int HandOver(const Options& options, UniqueFile image)
{
    const std::wstring self = ModulePath();
    bool keepUserData = true;
    if (!options.silent) {
        const ProductSettings product = ReadProduct();
        const std::wstring question =
            L"确定要从您的电脑中完全删除 " + ProductName(FindRegistrations(self), product) + L" 及其所有组件吗？";
        if (::MessageBoxW(nullptr, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
            LogLine(L"the player chose not to remove the product");
            return 0;
        }
        // Scores, settings, saved games: kept unless the user says otherwise.
        const std::wstring userData = product.userDataFile.empty()
                                          ? std::wstring()
                                          : JoinPath(InstallFolderOf(self, product), product.userDataFile);
        if (!userData.empty() && ::GetFileAttributesW(userData.c_str()) != INVALID_FILE_ATTRIBUTES) {
            const std::wstring keepQuestion = L"是否保留您的用户数据文件？\r\n" + userData +
                                              L"\r\n选择“是”保留该文件，选择“否”将其一并删除。";
            keepUserData = ::MessageBoxW(nullptr, keepQuestion.c_str(), kCaption,
                                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDNO;
        }
    }
    std::wstring arguments = L"\"/_from=" + self + L"\"";
    if (options.silent)
        arguments += L" /S";
    arguments += keepUserData ? L" /_keep=1" : L" /_keep=0";
    // The copy writes on in the same log, through a handle it inherits:
    // it never opens the file by its name.
    if (HANDLE log = InstallLogHandle(); log && ::SetHandleInformation(log, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        arguments += L" /_log=" + std::to_wstring(reinterpret_cast<uintptr_t>(log));
    return RunCopy(std::move(image), arguments);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything can load a DLL by name: the copy runs elevated from
    // the temporary folder, and the original from a folder users may be
    // able to write to.
    framework::RestrictDllSearchToSystemFolder();
    const Options options = ParseOptions();
    if (!(options.logHandle && AdoptInstallLog(options.logHandle)) && options.log) {
        Configuration configuration;
        Configuration::FromResource(nullptr, &configuration);
        StartInstallLog(options.logFile, L"uninst.exe", L"uninstall", configuration.Setting(kKeyDisplayName),
                        configuration.Setting(kKeyDisplayVersion), options.silent, L"asking the player");
    }
    if (options.from.empty()) {
        // Before any question: what the copy is made of cannot change
        // while the user reads it.
        UniqueFile image;
        if (!OpenOwnImage(&image)) {
            LogLine(L"the uninstaller cannot read its own file: nothing removed");
            if (!options.silent)
                ::MessageBoxW(nullptr, L"卸载程序无法读取自身文件，未删除任何内容。", kCaption, MB_OK | MB_ICONERROR);
            return 1;
        }
        const int code = HandOver(options, std::move(image));
        LogLine(L"exit code " + std::to_wstring(code));
        return code;
    }
    LogLine(L"removing, from the copy at " + ModulePath());
    Original original(options.wait, options.report);
    const bool handedOver = original.IsWaiting();
    Message message;
    const int code = static_cast<int>(RemoveInstallation(options, &original, &message));
    // The original ends with the outcome before the user has read it.
    original.Report(code);
    if (!options.silent)
        ::MessageBoxW(nullptr, message.text.c_str(), kCaption, MB_OK | message.icon);
    RemoveCopyAtRestart(ModulePath(), handedOver);
    if (!handedOver)
        LogLine(L"exit code " + std::to_wstring(code));
    return code;
}
