// The whole installation sequence against a recording host, with the real
// services in a scratch folder, the prefix's desktop, Start menu and
// registry, and faults injected where the system cannot be made to fail.
#include "engine/install_engine.h"
#include "engine/install_journal.h"
#include "recording_host.h"

#include "config/config.h"
#include "config/run_copy.h"
#include "support/test_support.h"
#include "system/file_ops.h"
#include "system/install_record.h"
#include "system/install_log.h"
#include "system/private_folder.h"
#include "system/run_folder.h"
#include "system/shortcuts.h"
#include "system/trace.h"
#include "system/uninstall.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr const wchar_t* kLinkName = L"引擎测试棋牌";
constexpr const wchar_t* kRepairLinkName = L"引擎测试修复";
constexpr const wchar_t* kGroup = L"引擎测试棋牌";

void RecordTrace(void* context, const wchar_t* line)
{
    static_cast<std::vector<std::wstring>*>(context)->push_back(line);
}

bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

enum class Outcome { kFailure, kCancel };

// The trace lines of the steps' table's first rows, in order; with traced,
// only those the run traced.
std::vector<std::wstring> StepTrace(size_t rows, const std::vector<std::wstring>* traced = nullptr)
{
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < rows; ++i) {
        const wchar_t* line = InstallRun::kSteps[i].trace;
        if (line && (!traced || std::find(traced->begin(), traced->end(), line) != traced->end()))
            lines.push_back(line);
    }
    return lines;
}

// Fails the one step it is told to, with a Win32 error of choice, or has the
// user confirm the cancel question while that step runs; every call goes to
// the real service otherwise.
class FaultyServices : public InstallServices {
public:
    FaultyServices() = default;
    FaultyServices(InstallStep step, Outcome outcome, DWORD error = ERROR_SUCCESS)
        : step_(step), outcome_(outcome), error_(error)
    {
    }
    InstallRun* run = nullptr;
    // When set, the installation folder whose second moved file is held.
    std::wstring holdIn;
    bool heldOne = false;

    bool MakeInstallationParents(const std::wstring& folder, HeldFolder* parent) override
    {
        return Hit(InstallStep::kFolders) ? false : InstallServices::MakeInstallationParents(folder, parent);
    }
    bool OpenPayload(HMODULE module, PayloadSource* payload) override
    {
        // Opened as the engine is made: a cancel cannot come before it.
        return Hit(InstallStep::kPayload) ? false : InstallServices::OpenPayload(module, payload);
    }
    bool Decode(CSPPackage& package, const PayloadSource& payload, const HeldFolder& folder, int32_t* current,
                const std::vector<bool>* keep) override
    {
        const bool ok = InstallServices::Decode(package, payload, folder, current, keep);
        return Hit(InstallStep::kUnpacking) ? false : ok;
    }
    // An upgrade in place fails its moves once their work is done.
    bool MoveAsideChanged(InstallJournal& journal, const InPlaceChanges& changes) override
    {
        // A program that holds the second file to be moved, opened once the
        // in-use check has passed: the moves stop after the first.
        UniqueFile held;
        for (size_t i = 1; i < changes.movedAside.size() && !holdIn.empty() && !held; ++i) {
            const std::wstring path = holdIn + L"\\" + changes.movedAside[i];
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                held.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
        }
        heldOne = heldOne || static_cast<bool>(held);
        const bool ok = InstallServices::MoveAsideChanged(journal, changes);
        return Hit(InstallStep::kMovingAside) ? false : ok;
    }
    bool MoveInChanged(InstallJournal& journal, const InPlaceChanges& changes, const HeldFolder& staging) override
    {
        const bool ok = InstallServices::MoveInChanged(journal, changes, staging);
        return Hit(InstallStep::kMovingIn) ? false : ok;
    }
    bool CopyUserData(const HeldFolder& installation, const std::wstring& relative, const HeldFolder& staging) override
    {
        return Hit(InstallStep::kMovingAside) ? false : InstallServices::CopyUserData(installation, relative, staging);
    }
    bool RenameStaging(HeldFolder* staging, const HeldFolder& parent, const std::wstring& name) override
    {
        return Hit(InstallStep::kMovingIn) ? false : InstallServices::RenameStaging(staging, parent, name);
    }
    bool CreateDesktopShortcut(const wchar_t* target, const wchar_t* name, const wchar_t* arguments) override
    {
        return Hit(InstallStep::kDesktopLink) ? false : InstallServices::CreateDesktopShortcut(target, name, arguments);
    }
    bool CreateProgramGroup(const wchar_t* group) override
    {
        return Hit(InstallStep::kProgramGroup) ? false : InstallServices::CreateProgramGroup(group);
    }
    bool CreateGroupShortcut(const wchar_t* target, const wchar_t* group, const wchar_t* name,
                             const wchar_t* arguments) override
    {
        ++groupShortcuts_;
        return Hit(groupShortcuts_ == 1 ? InstallStep::kGroupMainLink : InstallStep::kGroupRepairLink) ? false : InstallServices::CreateGroupShortcut(target, group, name, arguments);
    }
    bool RegisterUninstall(const Configuration& configuration, const std::wstring& installDir) override
    {
        return Hit(InstallStep::kUninstallEntry) ? false : InstallServices::RegisterUninstall(configuration, installDir);
    }

private:
    bool Hit(InstallStep step)
    {
        if (step != step_)
            return false;
        if (outcome_ == Outcome::kCancel) {
            run->Stop();
            return false;
        }
        ::SetLastError(error_);
        return true;
    }

    std::optional<InstallStep> step_;
    Outcome outcome_ = Outcome::kFailure;
    DWORD error_ = ERROR_SUCCESS;
    int groupShortcuts_ = 0;
};

// Everything of an installation, inside its folder and outside: the folder
// tree, the desktop link's bytes, the program group's tree, the uninstall
// entry's values (type and bytes), and what lies beside the folder.
struct InstallState {
    std::map<std::wstring, std::string> folder;
    std::string desktopLink;
    std::map<std::wstring, std::string> group;
    std::map<std::wstring, std::string> registry;
    std::vector<std::wstring> besides;
    std::string record;
};

std::map<std::wstring, std::string> ReadValues(const std::wstring& keyPath)
{
    std::map<std::wstring, std::string> values;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        BYTE data[2048];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        values[name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    ::RegCloseKey(key);
    return values;
}

std::vector<std::wstring> FolderNames(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (const auto& [name, content] : ReadTree(folder)) {
        if (name.find(L'\\') == std::wstring::npos)
            names.push_back(name);
    }
    return names;
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Configuration::FromResource(nullptr, &configuration));
        ASSERT_EQ(WriteConfigFile(configuration), 1);
        installDir = scratch.Join(L"Games\\Tovani");
        ASSERT_TRUE(WriteSetting(kKeySetupDir, installDir));
        ASSERT_EQ(CreateFolderTree(scratch.Join(L"Games").c_str()), 1);
        RemoveLeftovers();
        SetInstallTraceSink(RecordTrace, &trace);
        payload = ReadTree(TestSourcePath(L"engine\\product"));
    }
    void TearDown() override
    {
        SetInstallTraceSink(nullptr, nullptr);
        RemoveLeftovers();
        DeleteConfigFile();
        RemoveRunFolder();
    }

    void RemoveLeftovers()
    {
        ::DeleteFileW(DesktopShortcutPath(kLinkName).c_str());
        RemoveTree(ProgramGroupFolder(nullptr, kGroup));
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKeyPath(kGroup).c_str());
        DeleteInstallRecord(KeptPlaces::Of(configuration).installRecord);
    }

    // What the player's game wrote into the earlier installation: a folder
    // of its own, a file inside a product folder, a read-only hidden file,
    // a Unicode name, and a file at a name the new version brings.
    static std::map<std::wstring, std::string> PlayerFiles()
    {
        return {{L"saves\\slot1\\game.sav", "saved game\r\n"},
                {L"data\\macro.txt", "the player's macro\r\n"},
                {L"screenshots\\shot 1.png", "a picture\r\n"},
                {L"mods\\모드 Łódź 🎮.pak", "a mod\r\n"},
                {L"data\\rules\\规则.txt", "the player's own rules\r\n"}};
    }

    // An earlier installation, with its record: its own main program, user
    // data, a file and a folder the new version no longer has; and the
    // player's files.
    void MakeEarlierInstallation()
    {
        ASSERT_EQ(CreateFolderTree((installDir + L"\\data").c_str()), 1);
        ASSERT_EQ(CreateFolderTree((installDir + L"\\maps").c_str()), 1);
        WriteBytes(installDir + L"\\Marvane.exe", "old main program\r\n");
        WriteBytes(installDir + L"\\UserSetting.ini", "[user]\r\nname=player one\r\n");
        WriteBytes(installDir + L"\\old_only.txt", "only in the old version\r\n");
        WriteBytes(installDir + L"\\data\\levels.dat", "level data v1\r\n");
        WriteBytes(installDir + L"\\maps\\old.map", "a map the new version dropped\r\n");
        InstallRecord earlier;
        earlier.installDir = installDir;
        earlier.folders = {L"data", L"maps"};
        for (const wchar_t* name : {L"Marvane.exe", L"UserSetting.ini", L"old_only.txt", L"data\\levels.dat",
                                    L"maps\\old.map"})
            earlier.files.push_back({name, 0, {}});
        ASSERT_TRUE(WriteInstallRecord(KeptPlaces::Of(configuration).installRecord, earlier));
        for (const auto& [name, bytes] : PlayerFiles()) {
            const std::wstring path = installDir + L"\\" + name;
            ASSERT_EQ(CreateFolderTree(path.substr(0, path.rfind(L'\\')).c_str()), 1);
            WriteBytes(path, bytes);
        }
        ASSERT_TRUE(::SetFileAttributesW((installDir + L"\\screenshots\\shot 1.png").c_str(),
                                         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    }

    // The folder after a successful run over MakeEarlierInstallation: the new
    // version, the player's data file as it was, and every file of the
    // player's byte for byte, the one at a new version's name beside it.
    std::map<std::wstring, std::string> Upgraded(const std::string& userSetting) const
    {
        auto expected = payload;
        expected[L"UserSetting.ini"] = userSetting;
        for (const auto& [playerName, bytes] : PlayerFiles()) {
            std::wstring name = playerName;
            if (expected.count(name))
                name += L".player";
            expected[name] = bytes;
            for (size_t slash = name.find(L'\\'); slash != std::wstring::npos; slash = name.find(L'\\', slash + 1))
                expected[name.substr(0, slash)] = "<dir>";
        }
        return expected;
    }

    // The same with what it made outside its folder: a desktop link, a
    // program group holding its main link and a file of the user's, and an
    // uninstall entry with values the new version does not write.
    void MakeEarlierInstallationWithEntries()
    {
        MakeEarlierInstallation();
        const std::wstring oldProgram = installDir + L"\\Marvane.exe";
        ASSERT_EQ(CreateShortcut(oldProgram.c_str(), DesktopShortcutPath(kLinkName).c_str(), nullptr), 1);
        ASSERT_EQ(CreateFolderTree(ProgramGroupFolder(nullptr, kGroup).c_str()), 1);
        ASSERT_EQ(CreateShortcut(oldProgram.c_str(), GroupShortcutPath(nullptr, kGroup, kLinkName).c_str(), L"-old"), 1);
        WriteBytes(ProgramGroupFolder(nullptr, kGroup) + L"\\readme.txt", "the user's own\r\n");
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, UninstallKeyPath(kGroup).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const wchar_t version[] = L"0.9";
        const DWORD size = 4242;
        ::RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
        ::RegSetValueExW(key, L"EstimatedSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size), sizeof(size));
        ::RegCloseKey(key);
    }

    InstallState State() const
    {
        const std::wstring desktopLink = DesktopShortcutPath(kLinkName);
        const std::wstring record = KeptPlaces::Of(configuration).installRecord;
        return {ReadTree(installDir), Exists(desktopLink) ? ReadBytes(desktopLink) : std::string(),
                ReadTree(ProgramGroupFolder(nullptr, kGroup)), ReadValues(UninstallKeyPath(kGroup)),
                FolderNames(scratch.Join(L"Games")), Exists(record) ? ReadBytes(record) : std::string()};
    }

    static void ExpectSameState(const InstallState& before, const InstallState& after)
    {
        EXPECT_EQ(after.folder, before.folder);
        EXPECT_EQ(after.desktopLink, before.desktopLink);
        EXPECT_EQ(after.group, before.group);
        EXPECT_EQ(after.registry, before.registry);
        EXPECT_EQ(after.besides, before.besides);
        EXPECT_EQ(after.record, before.record);
    }

    bool Run(FaultyServices* services = nullptr) { return RunInto(installDir, services); }

    // The run on this thread, its rollback included; true once it has ended.
    bool RunInto(const std::wstring& folder, FaultyServices* services = nullptr)
    {
        run = std::make_unique<InstallRun>(configuration, nullptr, services);
        if (services)
            services->run = run.get();
        EXPECT_TRUE(run->Attach(&page));
        succeeded = run->Install(folder);
        return true;
    }

    bool Succeeded() const { return succeeded; }

    ScratchDir scratch;
    Configuration configuration;
    RecordingHost page;
    std::unique_ptr<InstallRun> run;
    bool succeeded = false;
    std::wstring installDir;
    std::vector<std::wstring> trace;
    std::map<std::wstring, std::string> payload;
};


TEST_F(InstallTest, FreshInstallationPutsEverythingInPlace)
{
    // The folder above is the run's to make, and the studio names the
    // folders the game writes, some of them not places it may have.
    RemoveTree(scratch.Join(L"Games"));
    configuration.Set(kConfigSection, kKeyWritableDirs, L"saves; data\\replays ;..\\up;Marvane.exe;CON");
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    EXPECT_EQ(page.rollbacks, 0);

    auto installed = payload;
    installed[L"saves"] = "<dir>";
    installed[L"data\\replays"] = "<dir>";
    EXPECT_EQ(ReadTree(installDir), installed);
    EXPECT_FALSE(Exists(scratch.Join(L"Games\\up")));
    // The installation's own list, not its parent's: under Wine others
    // (Everyone) are let in nowhere, as the list names only Administrators,
    // SYSTEM and Users.
    EXPECT_FALSE(OthersMayEnter(scratch.Join(L"Games")));
    EXPECT_FALSE(OthersMayEnter(installDir));
    for (const auto& [name, bytes] : installed)
        EXPECT_FALSE(OthersMayEnter(installDir + L"\\" + name)) << WideToUtf8(name);
    EXPECT_FALSE(Exists(installDir + L".temp"));

    EXPECT_TRUE(Exists(DesktopShortcutPath(kLinkName)));
    EXPECT_TRUE(Exists(GroupShortcutPath(nullptr, kGroup, kLinkName)));
    EXPECT_TRUE(Exists(GroupShortcutPath(nullptr, kGroup, kRepairLinkName)));
    wchar_t uninstall[MAX_PATH] = {};
    DWORD size = sizeof(uninstall);
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, UninstallKeyPath(kGroup).c_str(), L"UninstallString", RRF_RT_REG_SZ,
                             nullptr, uninstall, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(uninstall), L"\"" + installDir + L"\\uninst.exe\"");

    // The bar spans the entries and the steps that advance it, and ends
    // there; the last increment is never drawn.
    const int n = static_cast<int>(run->Progress().progressTotal.load());
    EXPECT_EQ(n, static_cast<int>(payload.size()));
    ASSERT_FALSE(page.rangeTops.empty());
    EXPECT_EQ(page.rangeTops.back(), n + kStepsBesideEntries);
    EXPECT_EQ(run->Progress().progressPosition.load(), n + kStepsBesideEntries);
    EXPECT_EQ(page.positions.back(), n + kStepsBesideEntries - 1);

    // The steps' statuses in the table's order, each shown once as it
    // changes: the entries' own while unpacking, and the moving aside's
    // only over an earlier installation. Every step's trace line follows
    // once it succeeded.
    std::vector<std::wstring> statuses;
    for (const InstallStepRow& row : InstallRun::kSteps) {
        const wchar_t* shown = row.step == InstallStep::kUnpacking ? L"正在解压文件" : row.shownWhen ? nullptr : row.status;
        if (shown && (statuses.empty() || statuses.back() != shown))
            statuses.push_back(shown);
    }
    EXPECT_EQ(page.statusTexts, statuses);
    EXPECT_EQ(StepTrace(std::size(InstallRun::kSteps), &trace), StepTrace(std::size(InstallRun::kSteps)));
    // The repair shortcut's detail is the repair program's file name.
    ASSERT_GE(page.detailTexts.size(), 3u);
    EXPECT_EQ(page.detailTexts[page.detailTexts.size() - 3], kLinkName);
    EXPECT_EQ(page.detailTexts[page.detailTexts.size() - 2], L"Marvane.exe");
}

// The file's identity on its volume: a file kept in place keeps it, one
// written again gets a new one.
uint64_t FileId(const std::wstring& path)
{
    UniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.get(), &info))
        return 0;
    return (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// An upgrade writes only what changed and keeps what is already there; run
// again over itself it mends a damaged file, one with bytes appended and a
// missing one; over an installation without a record it replaces only files
// at the new version's names; after an uninstallation it installs beside
// what the player kept. The player's files stay byte for byte throughout.
TEST_F(InstallTest, UpgradeAndRepairChangeOnlyWhatDiffers)
{
    MakeEarlierInstallation();
    const std::wstring rules = installDir + L"\\data\\rules\\规则.txt";
    WriteBytes(rules, payload[L"data\\rules\\规则.txt"]);
    WriteBytes(installDir + L"\\uninst.exe", payload[L"uninst.exe"]);
    const uint64_t rulesId = FileId(rules);
    const uint64_t oldProgramId = FileId(installDir + L"\\Marvane.exe");
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    auto expected = Upgraded("[user]\r\nname=player one\r\n");
    expected.erase(L"data\\rules\\规则.txt.player");
    EXPECT_EQ(ReadTree(installDir), expected);
    EXPECT_EQ(FileId(rules), rulesId);
    EXPECT_NE(FileId(installDir + L"\\Marvane.exe"), oldProgramId);
    EXPECT_EQ(::GetFileAttributesW((installDir + L"\\screenshots\\shot 1.png").c_str()) & ~FILE_ATTRIBUTE_ARCHIVE,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    // Kept, moved in or made: each of the product's entries has the
    // installation's list, the folder too.
    EXPECT_FALSE(OthersMayEnter(installDir));
    for (const auto& [name, bytes] : payload)
        EXPECT_FALSE(OthersMayEnter(installDir + L"\\" + name)) << WideToUtf8(name);
    EXPECT_NE(std::find(page.statusTexts.begin(), page.statusTexts.end(), L"正在删除旧版本文件..."),
              page.statusTexts.end());
    EXPECT_EQ(FolderNames(scratch.Join(L"Games")), std::vector<std::wstring>{L"Tovani"});

    // A repair: what is no longer the product's bytes is put back, what the
    // player added since stays.
    const std::wstring levels = installDir + L"\\data\\levels.dat";
    std::string damaged = ReadBytes(levels);
    damaged[0] ^= 0x20;
    WriteBytes(levels, damaged);
    WriteBytes(rules, payload[L"data\\rules\\规则.txt"] + "appended");
    ASSERT_TRUE(::DeleteFileW((installDir + L"\\uninst.exe").c_str()));
    WriteBytes(installDir + L"\\stray.txt", "the player's\r\n");
    ASSERT_EQ(CreateFolderTree((installDir + L"\\extra").c_str()), 1);
    WriteBytes(installDir + L"\\extra\\x.txt", "the player's too\r\n");
    expected[L"stray.txt"] = "the player's\r\n";
    expected[L"extra"] = "<dir>";
    expected[L"extra\\x.txt"] = "the player's too\r\n";
    const uint64_t programId = FileId(installDir + L"\\Marvane.exe");
    // A file kept in place is held from the check to the commit: while the
    // run goes on, nobody opens it to write over it or to move it away.
    const std::wstring program = installDir + L"\\Marvane.exe";
    int openedWhileHeld = 0;
    page.onDetail = [&](const std::wstring&) {
        for (const DWORD access : {static_cast<DWORD>(GENERIC_WRITE), static_cast<DWORD>(DELETE)}) {
            const UniqueFile other(::CreateFileW(program.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                 FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
            openedWhileHeld += other ? 1 : 0;
        }
    };
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    page.onDetail = nullptr;
    EXPECT_EQ(openedWhileHeld, 0);
    EXPECT_TRUE(UniqueFile(::CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_EQ(ReadTree(installDir), expected);
    EXPECT_NE(FileId(rules), rulesId);
    EXPECT_EQ(FileId(installDir + L"\\Marvane.exe"), programId);
    EXPECT_EQ(FolderNames(scratch.Join(L"Games")), std::vector<std::wstring>{L"Tovani"});

    // A record that does not read back as ours (here one naming a file
    // outside the folder) counts as none: the files at the new version's
    // names are the product's, and nothing else goes.
    const std::wstring record = KeptPlaces::Of(configuration).installRecord;
    const std::wstring victim = scratch.Join(L"victim.txt");
    WriteBytes(victim, "someone's file\r\n");
    InstallRecord tampered;
    tampered.installDir = installDir;
    tampered.files = {{L"..\\..\\victim.txt", 0, {}}, {L"stray.txt", 0, {}}};
    WriteBytes(record, EncodeInstallRecord(tampered));
    WriteBytes(installDir + L"\\Marvane.exe", "old main program\r\n");
    WriteBytes(installDir + L"\\old_only.txt", "only in the old version\r\n");
    expected[L"old_only.txt"] = "only in the old version\r\n";
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    EXPECT_EQ(ReadTree(installDir), expected);
    EXPECT_EQ(ReadBytes(victim), "someone's file\r\n");

    // What an uninstallation leaves: the player's files, and a record of no
    // files for the folder.
    InstallRecord left;
    left.installDir = installDir;
    ASSERT_TRUE(WriteInstallRecord(record, left));
    for (const auto& [name, bytes] : payload) {
        if (bytes != "<dir>") {
            ASSERT_TRUE(::DeleteFileW((installDir + L"\\" + name).c_str()));
        }
    }
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    expected[L"UserSetting.ini"] = payload[L"UserSetting.ini"];
    EXPECT_EQ(ReadTree(installDir), expected);
    InstallRecord written;
    ASSERT_TRUE(ReadInstallRecord(record, installDir, &written));
    EXPECT_TRUE(written.HasFile(L"data\\levels.dat"));
    EXPECT_FALSE(written.HasFile(L"stray.txt"));
}

// The core reliability check: whichever step fails or is cancelled, the run
// reports where it stood, counts the bar back, and leaves the earlier
// installation, its shortcuts, group and uninstall entry exactly as they
// were, with nothing beside them; only a cancel during the last step comes
// too late, and the installation stands.
TEST_F(InstallTest, FailureOrCancelAtAnyStepLeavesTheEarlierInstallationExactly)
{
    int runs = 0;
    for (const Outcome outcome : {Outcome::kFailure, Outcome::kCancel}) {
        for (size_t at = 0; at < std::size(InstallRun::kSteps); ++at) {
            const InstallStep step = InstallRun::kSteps[at].step;
            // Preparing and the copy's end call nothing that can fail once the
            // payload is there; the payload is opened as the run is made,
            // before any cancel.
            if (step == InstallStep::kPreparing || step == InstallStep::kPayloadCopyGone ||
                (outcome == Outcome::kCancel && step == InstallStep::kPayload))
                continue;
            SCOPED_TRACE((outcome == Outcome::kCancel ? "cancel at step " : "failing step ") + std::to_string(at));
            RemoveTree(installDir);
            RemoveTree(installDir + L".temp");
            RemoveLeftovers();
            MakeEarlierInstallationWithEntries();
            const InstallState before = State();
            page.positions.clear();
            page.rollbacks = 0;
            trace.clear();
            const size_t boxesBefore = page.boxes.size();

            FaultyServices services(step, outcome);
            ASSERT_TRUE(Run(&services));
            ++runs;
            if (outcome == Outcome::kCancel && step == InstallStep::kUninstallEntry) {
                ASSERT_TRUE(Succeeded());
                EXPECT_EQ(State().besides, std::vector<std::wstring>{L"Tovani"});
                EXPECT_EQ(ReadBytes(installDir + L"\\UserSetting.ini"), "[user]\r\nname=player one\r\n");
                continue;
            }
            EXPECT_FALSE(Succeeded());
            EXPECT_EQ(page.rollbacks, 1);
            // A failing step and those after trace nothing; a cancelled one
            // finishes, and so do those after it up to the next pause.
            size_t traced = at;
            if (outcome == Outcome::kCancel) {
                for (++traced; traced < std::size(InstallRun::kSteps) && !InstallRun::kSteps[traced].pausesBefore;)
                    ++traced;
            }
            EXPECT_EQ(StepTrace(std::size(InstallRun::kSteps), &trace), StepTrace(traced));
            const int n = static_cast<int>(payload.size());
            if (step >= InstallStep::kUnpacking) {
                // Counted back from the last entry to 1, then redrawn once by the rollback.
                std::vector<int> countdown;
                for (int p = n - 1; p >= 1; --p)
                    countdown.push_back(p);
                countdown.push_back(1);
                ASSERT_GE(page.positions.size(), countdown.size());
                EXPECT_EQ(std::vector<int>(page.positions.end() - static_cast<long>(countdown.size()),
                                           page.positions.end()),
                          countdown);
            }
            EXPECT_EQ(run->Progress().progressPosition.load(), 0);
            ExpectSameState(before, State());
            // A failure is told in one box; the user's own cancel in none.
            EXPECT_EQ(page.boxes.size() - boxesBefore, outcome == Outcome::kCancel ? 0u : 1u);
            EXPECT_EQ(run->Failure() == InstallFailure::kCancelled, outcome == Outcome::kCancel);
        }
    }
    EXPECT_EQ(runs, 19);
}

// Each reason a run can fail for is told once, in its own words; without an
// earlier installation nothing at all is left, even after the rename.
TEST_F(InstallTest, EachFailureReasonShowsItsBoxOnce)
{
    const struct {
        InstallStep step;
        DWORD error;
        const wchar_t* text;
    } cases[] = {
        {InstallStep::kUnpacking, ERROR_SUCCESS, L"安装文件已损坏，请重新下载安装程序后再安装！"},
        {InstallStep::kUnpacking, ERROR_DISK_FULL, L"剩余空间不足，请释放磁盘空间或者选择其他磁盘安装！"},
        {InstallStep::kFolders, ERROR_ACCESS_DENIED, L"安装目录无法写入，请检查权限或者选择其他安装目录！"},
        {InstallStep::kUnpacking, ERROR_FILENAME_EXCED_RANGE, L"安装路径过长，请选择路径较短的安装目录！"},
        {InstallStep::kUninstallEntry, ERROR_ACCESS_DENIED, L"创建快捷方式或写注册信息出错！请以管理员身份运行安装程序后重试！"},
    };
    // The log tells each failure with the box's sentence and the Win32
    // error the failed step left. The log stays open until the process
    // ends, as in the product: each case runs in a process of its own.
    const std::wstring logPath = scratch.Join(L"failures.log");
    ASSERT_TRUE(OpenInstallLog(logPath, L""));
    auto readLog = [&logPath] {
        std::string bytes(1 << 16, '\0');
        DWORD read = 0;
        const UniqueFile file(::CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        bytes.resize(file && ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)
                         ? read : 0);
        return bytes;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.text));
        const size_t boxesBefore = page.boxes.size();
        FaultyServices services(c.step, Outcome::kFailure, c.error);
        ASSERT_TRUE(Run(&services));
        EXPECT_FALSE(Succeeded());
        const auto texts = page.boxes;
        ASSERT_EQ(texts.size(), boxesBefore + 1);
        EXPECT_TRUE(EndsWith(texts.back(), c.text)) << WideToUtf8(texts.back());
        const InstallState after = State();
        EXPECT_TRUE(after.besides.empty());
        EXPECT_TRUE(after.desktopLink.empty());
        EXPECT_FALSE(Exists(ProgramGroupFolder(nullptr, kGroup)));
        EXPECT_TRUE(after.registry.empty());
        const std::string log = readLog();
        const size_t failed = log.rfind("failed: ");
        ASSERT_NE(failed, std::string::npos);
        const std::string line = log.substr(failed, log.find("\r\n", failed) - failed);
        EXPECT_NE(line.find(WideToUtf8(c.text)), std::string::npos) << line;
        EXPECT_EQ(line.find("Win32 error " + std::to_string(c.error) + ": ") != std::string::npos,
                  c.error != ERROR_SUCCESS) << line;
    }
    // The drive is named where there is one.
    EXPECT_EQ(FailureText(InstallFailure::kDiskFull, L"D:\\Games\\Tovani"),
              L"磁盘D:剩余空间不足，请释放磁盘空间或者选择其他磁盘安装！");
}

TEST_F(InstallTest, FileInUseAsksToRetryAndCancelLeavesTheEarlierInstallationWhole)
{
    MakeEarlierInstallationWithEntries();
    const InstallState before = State();
    HANDLE held = ::CreateFileW((installDir + L"\\data\\levels.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Run());
    ::CloseHandle(held);
    EXPECT_FALSE(Succeeded());
    EXPECT_EQ(page.boxes, std::vector<std::wstring>{L"覆盖安装文件出错！源程序正在运行， 请关闭后重试！"});
    ExpectSameState(before, State());
}

TEST_F(InstallTest, RetryAfterTheProgramClosedCompletesTheInstallation)
{
    MakeEarlierInstallation();
    HANDLE held = ::CreateFileW((installDir + L"\\Marvane.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // The program writes its user data as it closes; that is what is kept.
    page.retry = [&](const std::wstring&) {
        ::CloseHandle(held);
        WriteBytes(installDir + L"\\UserSetting.ini", "[user]\r\nname=written at exit\r\n");
        return true;
    };
    ASSERT_TRUE(Run());
    EXPECT_TRUE(Succeeded());
    EXPECT_EQ(page.boxes.size(), 1u);
    auto expected = Upgraded("[user]\r\nname=written at exit\r\n");
    EXPECT_EQ(ReadTree(installDir), expected);
    EXPECT_EQ(FolderNames(scratch.Join(L"Games")), std::vector<std::wstring>{L"Tovani"});
}

// What a run stopped from outside leaves: its staging folder, the earlier
// installation moved aside with its kept entries, and the new version half
// in place. The next run puts the earlier one back first, carries its user
// data over and finishes; a folder of that name not marked as ours stays.
TEST_F(InstallTest, AnInterruptedRunIsRecoveredByTheNext)
{
    MakeEarlierInstallationWithEntries();
    const InstallState before = State();
    auto journal = InstallJournal::Create(installDir, KeptPlaces::Of(configuration));
    ASSERT_TRUE(journal);
    ASSERT_TRUE(journal->KeepFile(KeptSlot::kDesktopLink));
    ASSERT_TRUE(journal->KeepKey(KeptSlot::kUninstallEntry));
    ASSERT_TRUE(journal->MoveAside());
    journal.reset();
    for (const wchar_t* folder : {L"", L".temp", L".old7"})
        ASSERT_EQ(CreateFolderTree((installDir + folder).c_str()), 1);
    WriteBytes(installDir + L"\\half.dat", "new version, half renamed\r\n");
    WriteBytes(installDir + L"\\~setup-staging.tag", "");
    WriteBytes(DesktopShortcutPath(kLinkName), "a link of the stopped run");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKeyPath(kGroup).c_str());
    WriteBytes(installDir + L".temp\\~setup-staging.tag", "");
    WriteBytes(installDir + L".temp\\part.bin", "partial\r\n");
    WriteBytes(installDir + L".old7\\keep.txt", "not ours\r\n");

    // Recovery alone: a run that then stops at its first step.
    FaultyServices stopAtOnce(InstallStep::kFolders, Outcome::kFailure);
    ASSERT_TRUE(Run(&stopAtOnce));
    EXPECT_FALSE(Succeeded());
    InstallState recovered = State();
    EXPECT_EQ(recovered.folder, before.folder);
    EXPECT_EQ(recovered.desktopLink, before.desktopLink);
    EXPECT_EQ(recovered.registry, before.registry);

    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    auto expected = Upgraded("[user]\r\nname=player one\r\n");
    EXPECT_EQ(ReadTree(installDir), expected);
    EXPECT_EQ(FolderNames(scratch.Join(L"Games")), (std::vector<std::wstring>{L"Tovani", L"Tovani.old7"}));
    EXPECT_EQ(ReadBytes(installDir + L".old7\\keep.txt"), "not ours\r\n");
}

// A record as a run writes it: kind, whether something was there, the
// place, and what was there.
std::string Record(uint32_t kind, uint32_t existed, const std::wstring& place, const std::string& rest = {})
{
    std::string bytes(reinterpret_cast<const char*>(&kind), 4);
    bytes.append(reinterpret_cast<const char*>(&existed), 4);
    const uint32_t length = static_cast<uint32_t>(place.size());
    bytes.append(reinterpret_cast<const char*>(&length), 4);
    bytes.append(reinterpret_cast<const char*>(place.data()), place.size() * sizeof(wchar_t));
    return bytes + rest;
}

// An aside folder written by hand beside an installation, its records
// naming places that are not this product's, and a folder of its own in
// the earlier installation's place inside: neither the recovery as the
// wizard starts nor an upgrade may act on any of it.
TEST_F(InstallTest, APlantedAsideFolderChangesNothingOutsideTheProduct)
{
    MakeEarlierInstallationWithEntries();
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring systemFile = std::wstring(system) + L"\\planted-by-test.dll";
    const std::wstring victim = scratch.Join(L"victim.txt");
    const std::wstring victimFolder = scratch.Join(L"victim-folder");
    const std::wstring victimKey = L"SOFTWARE\\SetupTestVictim";
    const std::wstring plantedKey = L"SOFTWARE\\SetupTestPlanted";
    ::DeleteFileW(systemFile.c_str());  // what a run of a broken build left
    WriteBytes(victim, "someone's file\r\n");
    ASSERT_EQ(CreateFolderTree(victimFolder.c_str()), 1);
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, victimKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, plantedKey.c_str());

    const std::wstring aside = installDir + L".old";
    ASSERT_EQ(CreateFolderTree((aside + L"\\install").c_str()), 1);
    WriteBytes(aside + L"\\install\\Marvane.exe", "planted program\r\n");
    WriteBytes(aside + L"\\~setup-aside.tag",
               std::string(reinterpret_cast<const char*>(installDir.data()), installDir.size() * sizeof(wchar_t)));
    const std::string value = std::string("\x04\0\0\0", 4) + "B\0a\0d\0\0\0" + std::string("\x01\0\0\0\x02\0\0\0", 8);
    const std::pair<int, std::string> records[] = {
        {1, Record(1, 1, systemFile, "MZ planted")},
        {2, Record(2, 0, victimFolder)},
        {3, Record(1, 0, victim)},
        {4, Record(3, 0, victimKey)},
        {5, Record(3, 1, plantedKey, value)},
        // The right kind for the wrong slot, at this product's own place.
        {1, Record(3, 0, UninstallKeyPath(kGroup))},
    };
    // An ordinary subfolder of the installation, made by an elevated run
    // (so Administrators own it on Windows), renamed by its user into an
    // aside folder's place, with a tag and a record of the product's own
    // uninstall entry that names the user's program.
    const std::wstring logs = installDir + L"\\logs";
    ASSERT_TRUE(::CreateDirectoryW(logs.c_str(), nullptr));
    WriteBytes(logs + L"\\~setup-aside.tag",
               std::string(reinterpret_cast<const char*>(installDir.data()), installDir.size() * sizeof(wchar_t)));
    const std::wstring valueName = L"UninstallString";
    const std::wstring plantedProgram = scratch.Join(L"players-own.exe");
    std::string values;
    for (const uint32_t number : {static_cast<uint32_t>(valueName.size())})
        values.append(reinterpret_cast<const char*>(&number), 4);
    values.append(reinterpret_cast<const char*>(valueName.data()), valueName.size() * sizeof(wchar_t));
    for (const uint32_t number : {uint32_t{REG_SZ}, static_cast<uint32_t>((plantedProgram.size() + 1) * 2)})
        values.append(reinterpret_cast<const char*>(&number), 4);
    values.append(reinterpret_cast<const char*>(plantedProgram.c_str()), (plantedProgram.size() + 1) * 2);
    WriteBytes(logs + L"\\kept-5.rec", Record(3, 1, UninstallKeyPath(kGroup), values));
    ASSERT_TRUE(::MoveFileW(logs.c_str(), (installDir + L".old1").c_str()));

    for (const auto& [slot, bytes] : records) {
        WriteBytes(aside + L"\\kept-" + std::to_wstring(slot) + L".rec", bytes);
        SCOPED_TRACE(slot);
        const InstallState before = State();
        auto expectNothingOutside = [&] {
            EXPECT_FALSE(Exists(systemFile));
            EXPECT_EQ(ReadBytes(victim), "someone's file\r\n");
            EXPECT_TRUE(Exists(victimFolder));
            HKEY probe = nullptr;
            EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, victimKey.c_str(), 0, KEY_READ, &probe), ERROR_SUCCESS);
            if (probe)
                ::RegCloseKey(probe);
            EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, plantedKey.c_str(), 0, KEY_READ, &probe), ERROR_SUCCESS);
        };
        // What the wizard does as it starts, for the folder it proposes.
        RecoverInterruptedInstall(installDir, KeptPlaces::Of(configuration));
        expectNothingOutside();
        InstallState after = State();
        EXPECT_EQ(after.folder, before.folder);
        EXPECT_EQ(after.desktopLink, before.desktopLink);
        EXPECT_EQ(after.registry, before.registry);
    }
    // An upgrade: the installation is the earlier one or the new one with
    // the user's data, never the planted folder.
    const InstallState before = State();
    ASSERT_TRUE(Run());
    const std::map<std::wstring, std::string> folder = ReadTree(installDir);
    if (!Succeeded()) {
        EXPECT_EQ(folder, before.folder);
    } else {
        auto expected = Upgraded("[user]\r\nname=player one\r\n");
        EXPECT_EQ(folder, expected);
    }
    const auto registered = ReadValues(UninstallKeyPath(kGroup));
    const auto uninstall = registered.find(L"UninstallString");
    if (uninstall != registered.end()) {
        EXPECT_EQ(uninstall->second.find(std::string(reinterpret_cast<const char*>(plantedProgram.data()),
                                                     plantedProgram.size() * sizeof(wchar_t))),
                  std::string::npos);
    }
    EXPECT_EQ(ReadBytes(installDir + L".old1\\kept-5.rec").size(), Record(3, 1, UninstallKeyPath(kGroup), values).size());
    EXPECT_FALSE(Exists(systemFile));
    EXPECT_EQ(ReadBytes(victim), "someone's file\r\n");
    EXPECT_TRUE(Exists(victimFolder));
    HKEY probe = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, plantedKey.c_str(), 0, KEY_READ, &probe), ERROR_SUCCESS);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, victimKey.c_str());
}

// The states between the steps that a kill loop passes too quickly to see:
// stopped after making the aside folder but before moving the installation
// into it, and stopped in a commit that could not delete what it kept.
TEST_F(InstallTest, ARunStoppedBetweenItsStepsIsRecoveredToWhatItLeft)
{
    MakeEarlierInstallationWithEntries();
    const InstallState before = State();
    {
        auto journal = InstallJournal::Create(installDir, KeptPlaces::Of(configuration));
        ASSERT_TRUE(journal);
        ASSERT_TRUE(journal->KeepFile(KeptSlot::kDesktopLink));
    }
    // Stopped after deleting the tag of its aside folder, before the folder.
    ASSERT_TRUE(CreatePrivateFolder(installDir + L".old2"));
    ASSERT_TRUE(RecoverInterruptedInstall(installDir, KeptPlaces::Of(configuration)));
    ExpectSameState(before, State());

    // Stopped in the middle of an upgrade in place, whose folder the player
    // then deleted: what was moved aside comes back.
    {
        auto journal = InstallJournal::Create(installDir, KeptPlaces::Of(configuration));
        ASSERT_TRUE(journal);
        InPlaceChanges changes;
        changes.movedAside = {L"Marvane.exe", L"data"};
        changes.addedFiles = {L"Marvane.exe"};
        ASSERT_TRUE(journal->MoveAsideChanged(changes));
    }
    RemoveTree(installDir);
    ASSERT_TRUE(RecoverInterruptedInstall(installDir, KeptPlaces::Of(configuration)));
    std::map<std::wstring, std::string> movedBack;
    for (const auto& [name, bytes] : before.folder) {
        if (name == L"Marvane.exe" || name.rfind(L"data", 0) == 0)
            movedBack[name] = bytes;
    }
    EXPECT_EQ(State().folder, movedBack);
    EXPECT_EQ(State().besides, std::vector<std::wstring>{L"Tovani"});
    RemoveTree(installDir);
    MakeEarlierInstallation();

    // The new installation stands, its entries written; the commit cannot
    // delete a file of the earlier version that is held open.
    auto journal = InstallJournal::Create(installDir, KeptPlaces::Of(configuration));
    ASSERT_TRUE(journal);
    ASSERT_TRUE(journal->KeepFile(KeptSlot::kDesktopLink));
    ASSERT_TRUE(journal->KeepKey(KeptSlot::kUninstallEntry));
    ASSERT_TRUE(journal->MoveAside());
    ASSERT_EQ(CreateFolderTree(installDir.c_str()), 1);
    WriteBytes(installDir + L"\\Marvane.exe", "new main program\r\n");
    WriteBytes(installDir + L"\\~setup-staging.tag", "");
    WriteBytes(DesktopShortcutPath(kLinkName), "the new version's link");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKeyPath(kGroup).c_str());
    HANDLE held = ::CreateFileW((journal->KeptInstallation() + L"\\data\\levels.dat").c_str(), GENERIC_READ,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(journal->Commit());
    journal.reset();
    ::CloseHandle(held);
    ASSERT_TRUE(RecoverInterruptedInstall(installDir, KeptPlaces::Of(configuration)));
    const InstallState recovered = State();
    EXPECT_EQ(recovered.folder, (std::map<std::wstring, std::string>{{L"Marvane.exe", "new main program\r\n"}}));
    EXPECT_EQ(recovered.desktopLink, "the new version's link");
    EXPECT_TRUE(recovered.registry.empty());
    EXPECT_EQ(recovered.besides, std::vector<std::wstring>{L"Tovani"});
}

// Orderings that no kill lands between, at the seam: a move aside that
// fails after the first entry moved (the record of changes must be there
// before it), undone by the rollback, and, stopped there without one, by
// the next start; and a kept link put back where a link to another file
// now stands (the link is replaced itself, nothing written through it).
TEST_F(InstallTest, OrderingsShowWhenAStepFailsHalfWay)
{
    const std::wstring victim = scratch.Join(L"victim.bin");
    for (const int phase : {0, 1, 2}) {
        SCOPED_TRACE(phase);
        RemoveTree(installDir);
        RemoveLeftovers();
        MakeEarlierInstallationWithEntries();
        // One file already in place: the upgrade is one in place.
        ASSERT_EQ(CreateFolderTree((installDir + L"\\data\\rules").c_str()), 1);
        WriteBytes(installDir + L"\\data\\rules\\规则.txt", payload[L"data\\rules\\规则.txt"]);
        const InstallState before = State();
        if (phase == 0) {
            FaultyServices services;
            services.holdIn = installDir;
            ASSERT_TRUE(Run(&services));
            EXPECT_FALSE(Succeeded());
            EXPECT_TRUE(services.heldOne);
        } else if (phase == 1) {
            auto journal = InstallJournal::Create(installDir, KeptPlaces::Of(configuration));
            ASSERT_TRUE(journal);
            InPlaceChanges changes;
            changes.movedAside = {L"Marvane.exe", L"old_only.txt", L"data\\levels.dat"};
            changes.addedFiles = {L"Marvane.exe"};
            UniqueFile held(::CreateFileW((installDir + L"\\old_only.txt").c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            EXPECT_FALSE(journal->MoveAsideChanged(changes));
            EXPECT_FALSE(Exists(installDir + L"\\Marvane.exe"));
            journal.reset();
            held.reset();
            ASSERT_TRUE(RecoverInterruptedInstall(installDir, KeptPlaces::Of(configuration)));
        } else {
            WriteBytes(victim, "someone else's file");
            auto journal = InstallJournal::Create(installDir, KeptPlaces::Of(configuration));
            ASSERT_TRUE(journal);
            ASSERT_TRUE(journal->KeepFile(KeptSlot::kDesktopLink));
            const std::wstring link = DesktopShortcutPath(kLinkName);
            ASSERT_TRUE(::DeleteFileW(link.c_str()));
            ASSERT_TRUE(::CreateHardLinkW(link.c_str(), victim.c_str(), nullptr));
            EXPECT_TRUE(journal->Undo());
            EXPECT_EQ(ReadBytes(victim), "someone else's file");
        }
        ExpectSameState(before, State());
    }
}

// The player's data file made a second name of a file only administrators
// may read: its bytes never reach the new installation.
TEST_F(InstallTest, AHardLinkedUserDataFileIsNotCarriedOver)
{
    MakeEarlierInstallation();
    const std::wstring secret = scratch.Join(L"secret.bin");
    WriteBytes(secret, "the administrators' bytes");
    const std::wstring userFile = installDir + L"\\UserSetting.ini";
    ASSERT_TRUE(::DeleteFileW(userFile.c_str()));
    ASSERT_TRUE(::CreateHardLinkW(userFile.c_str(), secret.c_str(), nullptr));
    ASSERT_TRUE(Run());
    for (const auto& [name, bytes] : ReadTree(installDir))
        EXPECT_TRUE(bytes != "the administrators' bytes" || name == L"UserSetting.ini") << WideToUtf8(name);
    // Refused as a link there is: the earlier installation stays as it was.
    EXPECT_FALSE(Succeeded());
    EXPECT_EQ(FileId(userFile), FileId(secret));
    EXPECT_TRUE(Exists(installDir + L"\\old_only.txt"));
}

TEST_F(InstallTest, SomeoneElsesFolderIsNotTouched)
{
    ASSERT_EQ(CreateFolderTree(installDir.c_str()), 1);
    WriteBytes(installDir + L"\\notes.txt", "not a game\r\n");
    ASSERT_TRUE(Run());
    EXPECT_FALSE(Succeeded());
    ASSERT_EQ(page.rollbacks, 1);
    EXPECT_EQ(page.boxes, std::vector<std::wstring>{L"安装目录中已有其他文件，请选择其他安装目录！"});
    EXPECT_EQ(run->Failure(), InstallFailure::kFolderRefused);
    EXPECT_EQ(ReadTree(installDir), (std::map<std::wstring, std::string>{{L"notes.txt", "not a game\r\n"}}));
    EXPECT_FALSE(Exists(installDir + L".temp"));
}

TEST_F(InstallTest, AForeignStagingFolderIsNeitherUsedNorDeleted)
{
    ASSERT_EQ(CreateFolderTree((installDir + L".temp").c_str()), 1);
    WriteBytes(installDir + L".temp\\mine.txt", "someone's\r\n");
    ASSERT_TRUE(Run());
    EXPECT_FALSE(Succeeded());
    EXPECT_EQ(page.rollbacks, 1);
    EXPECT_EQ(ReadBytes(installDir + L".temp\\mine.txt"), "someone's\r\n");
    EXPECT_FALSE(Exists(installDir));
}

TEST_F(InstallTest, ALeftoverStagingFolderOfOursGoesAndTheRunMakesItsOwn)
{
    // A first run cancelled from outside leaves its staging folder behind.
    ASSERT_EQ(CreateFolderTree((installDir + L".temp").c_str()), 1);
    WriteBytes(installDir + L".temp\\~setup-staging.tag", "");
    WriteBytes(installDir + L".temp\\half.tmp", "partial\r\n");
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Succeeded());
    EXPECT_EQ(ReadTree(installDir), payload);
}

TEST_F(InstallTest, RootsSystemFoldersAndTrailingBackslashesAreSafe)
{
    wchar_t windows[MAX_PATH];
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    for (const std::wstring& refused : {std::wstring(L"C:\\"), std::wstring(L"C:"), std::wstring(windows),
                                        std::wstring(L"C:\\users"), std::wstring(L"relative\\Tovani"),
                                        std::wstring(L""), L"\\\\?\\" + installDir, L"\\\\.\\" + installDir,
                                        L"\\??\\" + installDir}) {
        SCOPED_TRACE(WideToUtf8(refused));
        page.rollbacks = 0;
        ASSERT_TRUE(RunInto(refused));
        EXPECT_FALSE(Succeeded());
        EXPECT_EQ(page.rollbacks, 1);
        EXPECT_EQ(trace.size(), 0u);
    }
    EXPECT_TRUE(Exists(std::wstring(windows) + L"\\system32"));

    // With a trailing backslash the staging folder still lies beside the
    // installation, so replacing it cannot delete the new files.
    MakeEarlierInstallation();
    ASSERT_TRUE(RunInto(installDir + L"\\"));
    ASSERT_TRUE(Succeeded());
    auto expected = Upgraded("[user]\r\nname=player one\r\n");
    EXPECT_EQ(ReadTree(installDir), expected);
}

TEST_F(InstallTest, PausedWorkerTakesNoStepUntilResumed)
{
    UniqueHandle paused(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto engine = std::make_unique<InstallEngine>(configuration);
    page.onDetail = [&](const std::wstring&) {
        if (::WaitForSingleObject(paused.get(), 0) == WAIT_TIMEOUT) {
            engine->PauseWorker();
            ::SetEvent(paused.get());
        }
    };
    int32_t positionAtPause = -1;
    ASSERT_TRUE(engine->Attach(&page));
    ASSERT_TRUE(page.RunWorker(*engine, installDir, [&] {
        ASSERT_EQ(::WaitForSingleObject(paused.get(), 30000), WAIT_OBJECT_0);
        // The worker finishes what it had in hand; then nothing moves while
        // the question would be open.
        ::Sleep(100);
        size_t textsAtPause = 0;
        {
            std::lock_guard<std::mutex> hold(page.lock);
            positionAtPause = engine->Run().Progress().progressPosition.load();
            textsAtPause = page.detailTexts.size();
        }
        ::Sleep(400);
        std::lock_guard<std::mutex> hold(page.lock);
        EXPECT_EQ(engine->Run().Progress().progressPosition.load(), positionAtPause);
        EXPECT_EQ(page.detailTexts.size(), textsAtPause);
        EXPECT_TRUE(engine->WorkerRunning());
        engine->ResumeWorker();
    }));
    bool ended = false;
    EXPECT_TRUE(engine->WorkerEnded(&ended) && ended);
    // The pause caught the worker before its last step.
    EXPECT_LT(positionAtPause, static_cast<int32_t>(payload.size()) + kStepsBesideEntries);
    EXPECT_EQ(ReadTree(installDir), payload);
}

// The payload is read where the engine found it at start: nobody can write
// the file that holds it while the engine lives.
TEST(Payload, TheFileHoldingItCannotBeChangedWhileTheEngineLives)
{
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    InstallEngine engine{Configuration()};
    for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{DELETE}}) {
        HANDLE writer = ::CreateFileW(self, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << access;
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << access;
        if (writer != INVALID_HANDLE_VALUE)
            ::CloseHandle(writer);
    }
    const std::wstring moved = std::wstring(self) + L".moved";
    EXPECT_FALSE(::MoveFileW(self, moved.c_str()));
    ::MoveFileW(moved.c_str(), self);
}

// The room asked for: the payload's real unpacked size, 64-bit, unless the
// configuration asks for more.
TEST(Payload, RoomRequiredIsTheLargerOfTheConfiguredAndTheUnpackedSize)
{
    PayloadSource payload;
    ASSERT_TRUE(OpenPayload(nullptr, &payload));
    uint64_t productBytes = 0;
    for (const auto& [name, bytes] : ReadTree(TestSourcePath(L"engine\\product")))
        productBytes += bytes == "<dir>" ? 0 : bytes.size();
    EXPECT_EQ(PayloadUnpackedBytes(payload), productBytes);
    EXPECT_EQ(PayloadUnpackedBytes(PayloadSource()), 0u);
    constexpr uint64_t kMiB = 1ull << 20;
    const struct {
        int configured;
        uint64_t bytes;
        int expected;
    } cases[] = {
        {0, productBytes, 1}, {210, productBytes, 210}, {-5, 0, 0},          // rounded up; the larger
        {100, 5 * 1024 * kMiB + 1, 5 * 1024 + 1}, {1, 1ull << 62, INT32_MAX},  // past 4 GiB, and beyond any int
    };
    for (const auto& c : cases)
        EXPECT_EQ(RequiredSpaceMB(c.configured, c.bytes), c.expected) << c.configured << " " << c.bytes;
}

}  // namespace
