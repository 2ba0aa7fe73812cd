// The installation itself: the worker's sequence of steps, the progress
// record it shares with its host, the replacement of an earlier
// installation, and the rollback after a failure or cancel.
//
// Its host (the installing page, or the silent installation) attaches
// itself and starts InstallThreadProc on a thread of its own; the worker
// shows its steps, asks and tells only through the host, and reports its
// outcome in InstallProgress and Failure().
#pragma once

#include "config/config.h"
#include "engine/install_changes.h"
#include "engine/install_host.h"
#include "engine/install_journal.h"
#include "package/package.h"
#include "system/file_ops.h"
#include "system/install_folder.h"
#include "system/folder_handles.h"
#include "system/locked_int.h"
#include "system/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
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

// The record the worker and the page share, each field under its own lock.
struct InstallProgress {
    InstallProgress();

    LockedInt progressTotal;
    LockedInt progressPosition;
    LockedInt succeeded;
    LockedInt workerRunning;
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

class InstallEngine {
public:
    // The installer's engine: payload is the window the installer opened at
    // start. The engine keeps a duplicate of its handle until it ends and
    // never opens the file again; an empty window fails the run at its
    // payload step.
    InstallEngine(const Configuration& configuration, const PayloadSource& payload,
                  InstallServices* services = nullptr);
    // An engine that opens its payload itself, from payloadModule (null: the
    // running program) through the services, for the tests and tools that
    // carry a payload of their own.
    explicit InstallEngine(const Configuration& configuration, HMODULE payloadModule = nullptr,
                           InstallServices* services = nullptr);
    ~InstallEngine();
    InstallEngine(const InstallEngine&) = delete;
    InstallEngine& operator=(const InstallEngine&) = delete;

    // Replaces the payload with duplicates of payload's handles (empty when
    // it is empty); before SignalStart. The wizard's engine exists from the
    // start and gets the payload once the start-up check has vouched for it.
    void UsePayload(const PayloadSource& payload);

    // Registers the engine's callbacks with the package and keeps its host,
    // which must outlive the worker; the host goes on with its own set-up
    // only when it returns true. Without a host nothing is shown and every
    // question is answered no (the silent installation).
    bool Attach(InstallHost* host);

    CSPPackage& Package() { return package_; }
    InstallProgress& Progress() { return progress_; }

    // The worker's thread procedure; its parameter is the engine. It waits
    // for SignalStart before doing anything, and its last acts are to clear
    // workerRunning and tell the host it has ended. Returns 0.
    static unsigned __stdcall InstallThreadProc(void* engine);
    // Lets the worker begin installing into installDir, the folder the user
    // chose (normalised and checked by the run); the host calls it right
    // after starting the thread.
    void SignalStart(const std::wstring& installDir);

    // The page's end-of-worker check: false while the worker runs; once it
    // has ended, true with *succeeded set to its outcome.
    bool WorkerEnded(bool* succeeded) const;

    // The cancel question holds the worker still while it is open: the worker
    // waits before its next archive entry or step until ResumeWorker. Both
    // are for the page's thread and never block.
    void PauseWorker();
    void ResumeWorker();
    // The user confirmed cancel: the extraction stops before its next entry
    // and the sequence before its next step, up to the last one.
    void StopExtraction();

    // Why the run failed; kNone while it runs or after it succeeded.
    InstallFailure Failure() const { return failure_; }

    // The sequence of steps; true when every step succeeded.
    bool RunInstall(int32_t* stepsDone);
    // After a failed run, on the host's thread: counts the bar back from
    // stepsDone, undoes the run and, unless the user cancelled or the worker
    // already told them, tells what went wrong.
    void RollBack(int32_t stepsDone);

private:
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
    bool ReplacePreviousVersion(const std::wstring& installDir);
    // An earlier installation at installDir: which of the new version's
    // files it already holds, and what must change. False when the change
    // cannot be planned through checked handles.
    bool PlanUpgradeOf(const std::wstring& installDir);
    // The installation's record, kept and then written as the last change
    // before the run is committed.
    bool WriteRecord(const std::wstring& installDir);
    // The earlier version's folders that the new one dropped, once empty.
    void RemoveDroppedFolders(const std::wstring& installDir);
    bool UpgradeInPlace(const std::wstring& installDir);
    // The places of the installation that the game writes (relative): its
    // user data file and the folders the configuration names.
    std::vector<std::wstring> WritablePlaces() const;
    // Records the run's first failure, and logs it with error, the Win32
    // error the step left (taken where the step failed). Always false.
    bool Fail(InstallFailure failure, DWORD error = ::GetLastError());
    bool Stopped() { return package_.RunFlag().Get() == 0; }
    // Between steps: holds while the cancel question is open, then false
    // once the user has confirmed it.
    bool Proceed();
    void WaitWhilePaused() const;
    static void WaitAtGate(void* context);
    void UndoRun();
    void ShowStep(const wchar_t* status, const wchar_t* detail);
    void ShowProgress();
    int32_t AdvanceProgress();
    static void OnExtractProgress(void* context, ExtractProgress progress);

    Configuration configuration_;
    InstallServices* services_;
    PayloadSource payload_;
    InstallHost* host_ = nullptr;
    std::wstring chosenDir_;
    CSPPackage package_;
    InstallProgress progress_;
    UniqueHandle startEvent_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle notPaused_{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    std::atomic<bool> paused_{false};
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
    std::wstring installDir_;
    InstallFailure failure_ = InstallFailure::kNone;
    // The worker showed the failure's box itself (the in-use question).
    bool failureShown_ = false;
};

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

// The bar's upper bound for an archive of total entries: total + 6, the
// steps beside the entries.
inline constexpr int32_t kStepsBesideEntries = 6;
int32_t ProgressRangeUpperBound(int32_t total);
