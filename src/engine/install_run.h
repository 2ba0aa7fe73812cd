// The installation as one synchronous transaction: the steps from the
// chosen folder to the uninstall entry, each a row of a table, and the
// rollback after a failure or cancel. It shows, asks and tells only through
// its host, starts no thread and waits on nothing but the pause its owner
// gives it, so a test drives it by calling RunInstall with a host of its own.
#pragma once

#include "config/config.h"
#include "engine/install_changes.h"
#include "engine/install_host.h"
#include "engine/install_journal.h"
#include "package/package.h"
#include "system/file_ops.h"
#include "system/install_folder.h"
#include "system/folder_handles.h"
#include "system/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Why a run failed, for the one box that tells the user.
enum class InstallFailure {
    kNone,
    kCancelled,       // the user confirmed the cancel question
    kDamaged,         // the payload cannot be read or decoded
    kDiskFull,        // no room left on the installation's drive
    kCannotWrite,     // a folder or file cannot be made or changed
    kFolderRefused,   // the installation folder holds someone else's files
    kPathTooLong,     // the installation folder's path is too long
    kProgramRunning,  // a file of the earlier installation is in use
    kSystemEntries,   // a shortcut or the uninstall entry cannot be made
};

// The sentence the error box shows for a failure; empty for none and for
// the user's own cancel. installDir names the drive in the disk-full text.
std::wstring FailureText(InstallFailure failure, const std::wstring& installDir);

// The failure a Win32 error stands for, when it says more than the step
// that failed: disk full, path too long, access refused; else fallback.
InstallFailure FailureFromError(DWORD error, InstallFailure fallback);

// Where the bar stands: written by the run, read by whoever draws it.
struct InstallProgress {
    std::atomic<int32_t> progressTotal{0};
    std::atomic<int32_t> progressPosition{0};
};

// The services the sequence calls for its steps. The product uses the real
// ones; tests replace single calls to make a step fail where the system
// cannot be made to (a refused rename, a registry write that fails).
class InstallServices {
public:
    virtual ~InstallServices() = default;
    // The folder above the staging folder, held (MakeInstallationParents).
    virtual bool MakeInstallationParents(const std::wstring& folder, HeldFolder* parent);
    // OpenPayload below, for an engine made from a module.
    virtual bool OpenPayload(HMODULE module, PayloadSource* payload);
    // Into the held folder, leaving out the entries keep marks (null: none).
    virtual bool Decode(CSPPackage& package, const PayloadSource& payload, const HeldFolder& folder,
                        int32_t* current, const std::vector<bool>* keep);
    // The two steps of an upgrade in place (InstallJournal's).
    virtual bool MoveAsideChanged(InstallJournal& journal, const InPlaceChanges& changes);
    virtual bool MoveInChanged(InstallJournal& journal, const InPlaceChanges& changes, const HeldFolder& staging);
    // Renames the held staging folder to name in parent, through its hold.
    virtual bool RenameStaging(HeldFolder* staging, const HeldFolder& parent, const std::wstring& name);
    // Copies the file at relative ("config\\user.ini") in installation to the
    // same place in staging, reached through held handles on both sides: a
    // link on the way or at the file, or a file of more than one name, is
    // refused (ERROR_CANT_ACCESS_FILE), and the copy is a new file, made
    // where whatever the new version had there was removed. True with
    // nothing copied when the installation holds no such file.
    virtual bool CopyUserData(const HeldFolder& installation, const std::wstring& relative,
                              const HeldFolder& staging);
    virtual bool CreateDesktopShortcut(const wchar_t* target, const wchar_t* name, const wchar_t* arguments);
    virtual bool CreateProgramGroup(const wchar_t* group);
    virtual bool CreateGroupShortcut(const wchar_t* target, const wchar_t* group, const wchar_t* name,
                                     const wchar_t* arguments);
    virtual bool RegisterUninstall(const Configuration& configuration, const std::wstring& installDir);
};

// The payload, resource "DATA" 148 of module (null: the running program),
// where it lies in the module's file, held with read sharing only so that
// no other program can write, replace or rename that file while the window
// lives; or, for an image whose file cannot be read that way, a copy from
// memory in the run's folder, held the same way and deleted when closed.
// The installer calls it once, first thing, and every later reader (the
// digest check, the engine) reads through that window. With the payload's
// packed streams in data files beside the installer (DIGEST 142), each of
// them is opened here too, once, and held the same way (OpenDataFiles); one
// that is not there is for the start-up check to tell. False when the
// window could not be had; the source is then empty, as it is when the
// data files' table cannot be read.
bool OpenPayload(HMODULE module, PayloadSource* payload);

// The run's steps, in the order they are taken.
enum class InstallStep {
    kFolders,           // the installation folder checked, the staging folder made
    kPayload,           // the payload held since start-up is there
    kPreparing,         // its entries listed, an upgrade in place planned
    kUnpacking,         // the entries unpacked into the staging folder
    kPayloadCopyGone,   // the payload's copy, where one was made, goes with its handle
    kMovingAside,       // the earlier installation, or what changes of it, out of the way
    kMovingIn,          // the new version in its place
    kDesktopLink,
    kProgramGroup,
    kGroupMainLink,
    kGroupRepairLink,
    kUninstallEntry,    // the record and the uninstall entry; the run stands after it
};

// What a step's detail line shows beside its status.
enum class StepDetail {
    kUnchanged,      // the status line alone changes; the detail and the bar stay
    kEmpty,
    kInstallDir,
    kMainLink,       // the main shortcut's name
    kRepairProgram,  // the repair program's file name, not its shortcut's
};

// Kept for no rollback.
inline constexpr KeptSlot kKeepsNothing = KeptSlot{};

class InstallRun;

// One step of the run.
struct InstallStepRow {
    InstallStep step;
    // Whether the run waits out a pause and stops on a confirmed cancel
    // before the step: not between moving aside and moving in, where the
    // product is out of its place.
    bool pausesBefore;
    // Shown as the step begins; null shows nothing.
    const wchar_t* status;
    StepDetail detail;
    // Null: the status is shown whenever the step runs.
    bool (InstallRun::*shownWhen)();
    // The step's own work; it records its failure itself. Null: none.
    bool (InstallRun::*action)();
    // What replaces a system entry is kept first, then the entry is made;
    // either failing fails the run as a system entry's failure.
    KeptSlot kept;
    bool (InstallRun::*entry)();
    bool advances;
    // Traced once the step succeeded; null traces nothing.
    const wchar_t* trace;
};

class InstallRun {
public:
    // The installer's run: payload is the window the installer opened at
    // start. The run keeps a duplicate of its handle until it ends and
    // never opens the file again; an empty window fails the run at its
    // payload step.
    InstallRun(const Configuration& configuration, const PayloadSource& payload,
               InstallServices* services = nullptr);
    // A run that opens its payload itself, from payloadModule (null: the
    // running program) through the services, for the tests and tools that
    // carry a payload of their own.
    explicit InstallRun(const Configuration& configuration, HMODULE payloadModule = nullptr,
                        InstallServices* services = nullptr);
    ~InstallRun();
    InstallRun(const InstallRun&) = delete;
    InstallRun& operator=(const InstallRun&) = delete;

    // Replaces the payload with duplicates of payload's handles (empty when
    // it is empty); before the run starts.
    void UsePayload(const PayloadSource& payload);

    // Registers the run's callbacks with the package and keeps its host,
    // which must outlive the run; false when the package refused them.
    // Without a host nothing is shown and every question is answered no.
    bool Attach(InstallHost* host);
    // Called before every archive entry and every step that pauses: the
    // owner's pause holds the run still there. None: the run never waits.
    void PauseWith(std::function<void()> waitWhilePaused) { waitWhilePaused_ = std::move(waitWhilePaused); }
    // The user confirmed cancel: the extraction stops before its next entry
    // and the run before its next step that pauses.
    void Stop() { package_.RunFlag().store(0); }

    CSPPackage& Package() { return package_; }
    InstallProgress& Progress() { return progress_; }
    // Why the run failed; kNone while it runs or after it succeeded.
    InstallFailure Failure() const { return failure_; }

    // The steps, into chosenDir (the folder the user chose, normalised and
    // checked here); true when every step succeeded. *stepsDone is where
    // the bar stood, for the rollback.
    bool RunInstall(const std::wstring& chosenDir, int32_t* stepsDone);
    // After a failed run, on the host's thread: counts the bar back from
    // stepsDone, undoes the run and, unless the user cancelled or the run
    // already told them, tells what went wrong.
    void RollBack(int32_t stepsDone);
    // RunInstall, and after a failure (a step that threw included) the
    // rollback, handed to the host to run on its own thread. True when
    // the installation stands.
    bool Install(const std::wstring& chosenDir);

    static const InstallStepRow kSteps[12];
    // The rows that move the bar beside the entries.
    static constexpr int32_t StepsThatAdvance();

private:
    bool CheckFolders();
    bool HasPayload();
    bool Prepare();
    bool Unpack();
    bool MoveAside();
    bool MoveIn();
    bool WriteRecordStep();
    bool MakeDesktopLink();
    bool MakeProgramGroup();
    bool MakeGroupMainLink();
    bool MakeGroupRepairLink();
    bool MakeUninstallEntry();
    // Whether an earlier installation stands at the installation folder
    // as its replacement begins; kept for the replacement's two steps.
    bool ReplacesEarlier();
    // The replacement's opening: asks to retry while inUse finds a file in
    // use, then opens the aside folder.
    bool WaitUntilNotInUse(const std::function<bool()>& inUse);
    bool OpenJournal();
    bool Keep(KeptSlot slot);
    void Show(const InstallStepRow& row);

    bool ClaimStagingFolder(const std::wstring& stagingDir);
    // The one place the staging folder becomes the installation folder:
    // renamed through the run's hold on it.
    bool StagingBecomesInstallation(const std::wstring& installDir);
    // Deletes what the run holds of the staging folder, through the hold.
    void DeleteHeldStaging();
    // The payload's entries, each with the SHA-256 the installer's signed
    // table records for it.
    bool ListPayloadEntries(std::vector<ArchiveEntry>* entries) const;
    bool RecoverInterruptedRuns(const std::wstring& installDir);
    // An earlier installation at installDir: which of the new version's
    // files it already holds, and what must change. False when the change
    // cannot be planned through checked handles.
    bool PlanUpgradeOf(const std::wstring& installDir);
    // The installation's record, kept and then written as the last change
    // before the run is committed.
    bool WriteRecord(const std::wstring& installDir);
    // The earlier version's folders that the new one dropped, once empty.
    void RemoveDroppedFolders(const std::wstring& installDir);
    // The places of the installation that the game writes (relative): its
    // user data file and the folders the configuration names.
    std::vector<std::wstring> WritablePlaces() const;
    // Records the run's first failure, and logs it with error, the Win32
    // error the step left (taken where the step failed). Always false.
    bool Fail(InstallFailure failure, DWORD error = ::GetLastError());
    bool Stopped() { return package_.RunFlag().load() == 0; }
    // Between steps: holds while the cancel question is open, then false
    // once the user has confirmed it.
    bool Proceed();
    static void WaitAtGate(void* context);
    void UndoRun();
    void ShowStep(const wchar_t* status, const wchar_t* detail);
    void ShowProgress();
    static void OnExtractProgress(void* context, ExtractProgress progress);

    Configuration configuration_;
    InstallServices* services_;
    PayloadSource payload_;
    InstallHost* host_;
    std::function<void()> waitWhilePaused_;
    CSPPackage package_;
    InstallProgress progress_;
    // Set once this run made the staging folder; only then may the rollback
    // delete it.
    bool stagingOwned_ = false;
    // The staging folder, made new and private by this run and held without
    // delete sharing (with DELETE, to rename it) from then until it becomes
    // the installation or is deleted: nobody renames it or puts a link in
    // its place meanwhile, and every write into it goes through this hold.
    HeldFolder staging_;
    // The module whose resources carry the payload and its entries' table.
    HMODULE payloadModule_ = nullptr;
    // The run's aside folder (the earlier installation and what the run
    // replaced outside it), made at the replacement step; empty before.
    std::unique_ptr<InstallJournal> journal_;
    // The upgrade of an earlier installation in place; null for a fresh
    // installation and an empty folder replaced whole.
    std::unique_ptr<UpgradePlan> upgrade_;
    // The payload's entries, read from its database at the preparing step.
    std::vector<ArchiveEntry> entries_;
    // The new version's entries (relative), for an upgrade in place: they
    // get the installation's access list, the player's own entries keep theirs.
    std::vector<std::wstring> productEntries_;
    std::wstring chosenDir_;
    std::wstring installDir_;
    FolderState folderState_ = FolderState::Empty;
    bool replacesEarlier_ = false;
    // Where the extraction stood: the entries begun.
    int32_t entriesBegun_ = 0;
    InstallFailure failure_ = InstallFailure::kNone;
    // The run showed the failure's box itself (the in-use question).
    bool failureShown_ = false;
};

inline constexpr InstallStepRow InstallRun::kSteps[12] = {
    {InstallStep::kFolders, false, nullptr, StepDetail::kUnchanged, nullptr, &InstallRun::CheckFolders,
     kKeepsNothing, nullptr, false, L"创建临时文件\r\n"},
    {InstallStep::kPayload, true, nullptr, StepDetail::kUnchanged, nullptr, &InstallRun::HasPayload,
     kKeepsNothing, nullptr, false, L"将资源写入临时文件 temp.7z\r\n"},
    {InstallStep::kPreparing, true, L"正在准备安装文件...", StepDetail::kUnchanged, nullptr, &InstallRun::Prepare,
     kKeepsNothing, nullptr, false, nullptr},
    {InstallStep::kUnpacking, true, nullptr, StepDetail::kUnchanged, nullptr, &InstallRun::Unpack, kKeepsNothing,
     nullptr, false, L"解压 temp.7z 到 temp 文件夹\r\n"},
    {InstallStep::kPayloadCopyGone, true, nullptr, StepDetail::kUnchanged, nullptr, nullptr, kKeepsNothing,
     nullptr, false, L"删除temp.7z\r\n"},
    {InstallStep::kMovingAside, true, L"正在删除旧版本文件...", StepDetail::kInstallDir,
     &InstallRun::ReplacesEarlier, &InstallRun::MoveAside, kKeepsNothing, nullptr, true, L"删除旧版本文件\r\n"},
    {InstallStep::kMovingIn, false, L"正在覆盖旧版本文件...", StepDetail::kInstallDir, nullptr, &InstallRun::MoveIn,
     kKeepsNothing, nullptr, true, L"重命名文件夹\r\n"},
    {InstallStep::kDesktopLink, true, L"正在创建桌面快捷方式...", StepDetail::kEmpty, nullptr, nullptr,
     KeptSlot::kDesktopLink, &InstallRun::MakeDesktopLink, true, L"创建桌面快捷方式\r\n"},
    {InstallStep::kProgramGroup, true, L"正在创建程序组...", StepDetail::kEmpty, nullptr, nullptr,
     KeptSlot::kProgramGroup, &InstallRun::MakeProgramGroup, true, L"正在创建程序组\r\n"},
    {InstallStep::kGroupMainLink, true, L"正在创建程序组快捷方式...", StepDetail::kMainLink, nullptr, nullptr,
     KeptSlot::kGroupMainLink, &InstallRun::MakeGroupMainLink, true, L"正在创建程序组快捷方式1\r\n"},
    {InstallStep::kGroupRepairLink, true, L"正在创建程序组快捷方式...", StepDetail::kRepairProgram, nullptr,
     nullptr, KeptSlot::kGroupRepairLink, &InstallRun::MakeGroupRepairLink, true, L"正在创建程序组快捷方式2\r\n"},
    {InstallStep::kUninstallEntry, true, L"正在写注册信息...", StepDetail::kEmpty, nullptr,
     &InstallRun::WriteRecordStep, KeptSlot::kUninstallEntry, &InstallRun::MakeUninstallEntry, true,
     L"写注册信息成功\r\n"},
};

constexpr int32_t InstallRun::StepsThatAdvance()
{
    int32_t count = 0;
    for (const InstallStepRow& row : kSteps)
        count += row.advances ? 1 : 0;
    return count;
}

// What installDir (normalized) is to an installation of the product the
// configuration describes: ClassifyInstallFolder's answer, except that a
// folder the product's record names (what an uninstallation left of the
// player's) counts as an earlier installation, not someone else's.
FolderState InstallFolderState(const Configuration& configuration, const std::wstring& installDir);

// The staging folder for an installation folder: beside it, its name with
// ".temp" appended. Empty when the installation folder is empty.
std::wstring StagingFolderPath(const std::wstring& installDir);

// The payload's unpacked size: the 64-bit sum of its entries' sizes, read
// from its database alone (nothing decoded); 0 when it cannot be read.
uint64_t PayloadUnpackedBytes(const PayloadSource& payload);

// The room an installation needs on its drive, in MB (of 2^20 bytes, as
// GetDiskFreeMB counts): the larger of configuredMB (OBJ_IN_SIZE) and the
// payload's unpacked bytes, so that a configuration that understates the
// product cannot start an installation that fills the drive.
int RequiredSpaceMB(int configuredMB, uint64_t payloadBytes);

// The bar's upper bound for an archive of total entries. The extraction
// leaves the bar at its last entry's index, total - 1, and each step that
// advances moves it one on, the last of them to the top.
inline constexpr int32_t kStepsBesideEntries = InstallRun::StepsThatAdvance() - 1;
int32_t ProgressRangeUpperBound(int32_t total);
