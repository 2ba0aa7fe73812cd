// setup.exe without its window: silent installs, upgrades and uninstalls,
// their logs and exit codes, and the single-instance guard, which also ends
// a second wizard of the same name without a word.
#include "e2e/fixture.h"

#include <map>

using namespace e2e;

namespace {

TEST_F(Wizard, SecondCopyUnderTheSameNameEndsSilently)
{
    auto first = Start(SetupExe());
    SetupProcess second(SetupExe());
    ASSERT_TRUE(second.Started());
    EXPECT_TRUE(second.WaitForExit());
    EXPECT_EQ(second.WaitForFrame(0), nullptr);
    EXPECT_EQ(first->ShownPageKind(), Page::kWelcome);

    const std::wstring renamed = Work(L"other-name.exe");
    ASSERT_TRUE(::CopyFileW(SetupExe().c_str(), renamed.c_str(), FALSE));
    SetupProcess other(renamed);
    EXPECT_NE(other.WaitForFrame(), nullptr);
    EXPECT_NE(other.WaitForPage(Page::kWelcome), nullptr);
}

// Runs exe with arguments and waits for its end; its exit code, or
// STILL_ACTIVE at the deadline.
DWORD RunToEnd(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs = 120000)
{
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
        return static_cast<DWORD>(-1);
    ::CloseHandle(info.hThread);
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(info.hProcess, &code);
    else
        ::TerminateProcess(info.hProcess, 99);
    ::CloseHandle(info.hProcess);
    return code;
}

TEST_F(Wizard, SilentInstallUpgradeUninstallAndInstallAgain)
{
    // Into the folder the destination page would propose, with everything
    // the wizard makes, and no window.
    ASSERT_EQ(RunToEnd(SetupExe(), L"/S"), 0u);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    EXPECT_TRUE(Exists(DesktopLink(kDisplayName)));
    EXPECT_TRUE(Exists(ProgramGroup(kDisplayName)));
    EXPECT_EQ(UninstallValue(kDisplayName, L"UninstallString"), L"\"" + kDefaultInstallDir + L"\\uninst.exe\"");
    EXPECT_FALSE(Exists(RunConfigFile()));
    EXPECT_FALSE(Exists(kDefaultInstallDir + L"\\run-marker.txt"));  // nothing started

    // What the player's game writes into its folder stays through a repair,
    // an uninstallation and the installation after it; the user data file
    // is carried over.
    ASSERT_TRUE(WriteFileBytes(kDefaultInstallDir + L"\\UserSetting.ini", "[user]\r\nname=keeper\r\n"));
    const std::wstring saves = kDefaultInstallDir + L"\\saves";
    ASSERT_TRUE(::CreateDirectoryW(saves.c_str(), nullptr));
    const std::map<std::wstring, std::string> playerFiles = {
        {saves + L"\\slot1.sav", "saved game"}, {kDefaultInstallDir + L"\\data\\macro.txt", "a macro"}};
    for (const auto& [path, bytes] : playerFiles)
        ASSERT_TRUE(WriteFileBytes(path, bytes));
    const auto expectPlayerFiles = [&] {
        for (const auto& [path, bytes] : playerFiles)
            EXPECT_EQ(ReadFileBytes(path), bytes);
    };
    ASSERT_EQ(RunToEnd(SetupExe(), L"/S"), 0u);
    EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\UserSetting.ini"), "[user]\r\nname=keeper\r\n");
    expectPlayerFiles();

    // The installer's uninstaller, run as the system's list of programs runs
    // it, silently: nothing of the product remains but the user data file.
    ASSERT_EQ(RunToEnd(kDefaultInstallDir + L"\\uninst.exe", L"/S"), 0u);
    EXPECT_TRUE(WaitUntil([] {
        return !Exists(kDefaultInstallDir + L"\\Marvane.exe") && !Exists(DesktopLink(kDisplayName)) &&
               !Exists(ProgramGroup(kDisplayName)) && !UninstallKeyExists(kDisplayName);
    }));
    EXPECT_TRUE(WaitUntil([] { return !Exists(kDefaultInstallDir + L"\\uninst.exe"); }));
    EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\UserSetting.ini"), "[user]\r\nname=keeper\r\n");
    EXPECT_FALSE(Exists(kDefaultInstallDir + L"\\data\\boards"));
    expectPlayerFiles();

    // A second installation after the uninstallation.
    ASSERT_EQ(RunToEnd(SetupExe(), L"/S"), 0u);
    EXPECT_TRUE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    EXPECT_TRUE(UninstallKeyExists(kDisplayName));
    expectPlayerFiles();

    // Its uninstaller run as the list of programs runs it, asking: while the
    // question is shown, another program renames its file away and moves
    // the sample program in under its name. What removes the installation
    // is the file that asked, not the one moved in.
    const std::wstring uninst = kDefaultInstallDir + L"\\uninst.exe";
    SetupProcess asking(uninst, {L"MARVANE_AUTOCLOSE_MS=300"});
    HWND question = asking.WaitForBox(L"卸载程序");
    ASSERT_NE(question, nullptr);
    const bool renamed = ::MoveFileExW(uninst.c_str(), (uninst + L".away").c_str(), 0) &&
                         ::CopyFileW((kDefaultInstallDir + L"\\Marvane.exe").c_str(), uninst.c_str(), TRUE);
    EXPECT_FALSE(renamed);
    AnswerBox(question, IDYES);
    // Keep the user data file; then the outcome, told by the copy.
    HWND keep = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        keep = asking.FindBox(L"卸载程序");
        return keep && keep != question && ::IsWindowVisible(keep);
    }));
    AnswerBox(keep, IDYES);
    HWND told = nullptr;
    EXPECT_TRUE(WaitUntil([&] {
        told = ::FindWindowW(L"#32770", L"卸载程序");
        return told && told != keep && ::IsWindowVisible(told);
    }));
    if (told)
        AnswerBox(told, IDOK);
    EXPECT_TRUE(asking.WaitForExit());
    EXPECT_EQ(asking.ExitCode(), 0u);
    EXPECT_FALSE(UninstallKeyExists(kDisplayName));
    EXPECT_FALSE(Exists(kDefaultInstallDir + L"\\Marvane.exe"));
    expectPlayerFiles();
}

// The log a support desk asks for: each run's own file, UTF-8 with a
// byte-order mark, a time on every line, the folder and where it came from,
// the steps, why a run failed and how it ended. A name already taken is
// left as it was and the log goes to the next free one.
TEST_F(Wizard, SilentRunsWriteALogOfHowTheyWent)
{
    const std::wstring foreign = Work(L"foreign");
    ASSERT_TRUE(::CreateDirectoryW(foreign.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(foreign + L"\\notes.txt", "someone else's"));
    ASSERT_TRUE(WriteFileBytes(Work(L"refused.log"), "someone else's log"));
    const std::string ini = ConfigSetting(L"OBJ_IN_SIZE", L"2000000000");
    ASSERT_FALSE(ini.empty());
    ASSERT_TRUE(CopyWithResource(SetupExe(), Work(L"no-room.exe"), L"INI", 138, ini));
    const std::wstring uninstaller = kDefaultInstallDir + L"\\uninst.exe";
    struct Run {
        std::wstring exe, arguments, log;
        DWORD code;
        std::vector<std::wstring> lines;
    };
    const Run runs[] = {
        {SetupExe(), L"/S /LOG=" + Work(L"installed.log"), Work(L"installed.log"), 0,
         {L"setup.exe log", L"system: Windows ", L"digest: the configuration and the payload match it",
          L"folder proposed: " + kDefaultInstallDir, L"installing into " + kDefaultInstallDir, L"创建临时文件",
          L"解压 temp.7z 到 temp 文件夹", L"写注册信息成功", L"installed", L"exit code 0"}},
        {uninstaller, L"/S /LOG=" + Work(L"removed.log"), Work(L"removed.log"), 0,
         {L"uninst.exe log", L"removing, from the copy at", L"installation folder: " + kDefaultInstallDir,
          L"removed (told:", L"exit code 0"}},
        {SetupExe(), L"/S /LOG=" + Work(L"refused.log") + L" /D=" + foreign, Work(L"refused-2.log"), 5,
         {L"folder from /D=: " + foreign, L"folder refused: it holds files that are not this product's",
          L"exit code 5"}},
        {Work(L"no-room.exe"), L"/S /LOG=" + Work(L"no-room.log") + L" /D=" + kDefaultInstallDir, Work(L"no-room.log"), 6,
         {L"folder from /D=: " + kDefaultInstallDir, L"not enough space: drive D: has ",
          L"the product needs 2000000000 MB", L"exit code 6"}},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.arguments);
        EXPECT_EQ(RunToEnd(run.exe, run.arguments), run.code);
        const std::string log = ReadFileBytes(run.log);
        ASSERT_TRUE(log.starts_with("\xEF\xBB\xBF"));
        size_t at = 3;
        for (const std::wstring& line : run.lines) {
            // In the order the run wrote them.
            const size_t found = log.find(WideToCodePage(line, CP_UTF8), at);
            EXPECT_NE(found, std::string::npos) << WideToCodePage(line, CP_UTF8) << "\n" << log;
            at = found == std::string::npos ? at : found;
        }
        for (size_t line = 3; line < log.size();) {
            EXPECT_TRUE(log.compare(line, 2, "20") == 0) << log.substr(line, 40);
            const size_t end = log.find("\r\n", line);
            ASSERT_NE(end, std::string::npos) << "a line left without its end";
            line = end + 2;
        }
    }
    EXPECT_EQ(ReadFileBytes(Work(L"refused.log")), "someone else's log");
    EXPECT_EQ(ReadFileBytes(foreign + L"\\notes.txt"), "someone else's");
}

TEST_F(Wizard, SilentInstallTakesAFolderWithSpacesAndReportsEachFailure)
{
    const std::wstring chosen = L"D:\\e2e\\My Games\\星 河";
    RemoveTree(L"D:\\e2e\\My Games");
    // As typed, and as a shell that quotes an argument with blanks passes it.
    for (const std::wstring& arguments : {L"/S /D=" + chosen, L"/S \"/D=" + chosen + L"\""}) {
        ASSERT_EQ(RunToEnd(SetupExe(), arguments), 0u);
        EXPECT_TRUE(Exists(chosen + L"\\Marvane.exe"));
        EXPECT_EQ(UninstallValue(kDisplayName, L"UninstallString"), L"\"" + chosen + L"\\uninst.exe\"");
        RemoveTree(L"D:\\e2e\\My Games");
        RemoveRegistration();
    }

    const std::wstring foreign = Work(L"foreign");
    ASSERT_TRUE(WriteFileBytes(Work(L"foreign-file.txt"), "x"));
    ASSERT_TRUE(::CreateDirectoryW(foreign.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(foreign + L"\\notes.txt", "someone else's"));
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S /D=" + foreign), 5u);
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S /D=D:\\"), 5u);
    for (const wchar_t* form : {L"\\\\?\\", L"\\\\.\\", L"\\??\\", L"//?/"})
        EXPECT_EQ(RunToEnd(SetupExe(), L"/S /D=" + std::wstring(form) + chosen), 5u);
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S /D=games"), 1u);
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S /X"), 1u);
    EXPECT_EQ(ReadFileBytes(foreign + L"\\notes.txt"), "someone else's");
    ExpectNothingInstalled();

    // A running copy of the product keeps its folder: nothing is replaced.
    HANDLE held = HoldEarlierProgram();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S"), 7u);
    ::CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(kDefaultInstallDir + L"\\Marvane.exe"), "old program");

    // A damaged installer installs nothing: a payload byte changed in
    // transit, the digest cut short, the payload gone, the table of its
    // entries' SHA-256 forged (a planted program's, so that it would be
    // kept) or gone.
    const std::string cut = ReadResource(SetupExe(), L"DIGEST", 140).substr(0, 32);
    std::string forged = ReadResource(SetupExe(), L"DIGEST", 141);
    ASSERT_GT(forged.size(), 64u);
    forged[0] = forged[0] == '0' ? '1' : '0';
    const auto changed = [](const wchar_t* name, const wchar_t* type, int id, const std::string* bytes) {
        return CopyChangingResource(SetupExe(), Work(name), type, id, bytes) ? Work(name) : std::wstring();
    };
    const std::wstring damaged[] = {
        DamagedCopy(SetupExe(), L"DATA", 148, Work(L"damaged.exe")),
        changed(L"cut-digest.exe", L"DIGEST", 140, &cut),
        changed(L"no-payload.exe", L"DATA", 148, nullptr),
        changed(L"forged-table.exe", L"DIGEST", 141, &forged),
        changed(L"no-table.exe", L"DIGEST", 141, nullptr),
    };
    for (const std::wstring& exe : damaged) {
        SCOPED_TRACE(exe);
        ASSERT_FALSE(exe.empty());
        EXPECT_EQ(RunToEnd(exe, L"/S"), 3u);
    }

    // The single-instance guard holds for the silent mode too.
    auto wizard = Start(SetupExe());
    EXPECT_EQ(RunToEnd(SetupExe(), L"/S"), 2u);
    EXPECT_EQ(wizard->ShownPageKind(), Page::kWelcome);
}

}  // namespace
