// The worker's sequence: the payload unpacked from the installer's own file
// into the staging folder, the earlier installation replaced, shortcuts and the
// uninstall entry made. Each step stops the run at its first failure; the
// undo is the rollback's, after the failure message.
#include "engine/install_engine.h"
#include "engine/install_journal.h"

#include "config/config.h"
#include "config/uninstall_entry.h"
#include "package/payload_digest.h"
#include "system/file_ops.h"
#include "system/folder_handles.h"
#include "system/install_folder.h"
#include "system/private_folder.h"
#include "system/shortcuts.h"
#include "system/trace.h"
#include "system/uninstall.h"

#include <algorithm>

namespace {

constexpr const wchar_t* kForeignFolderText = L"安装目录中已有其他文件，请选择其他安装目录！";
constexpr const wchar_t* kInUseText = L"覆盖安装文件出错！源程序正在运行， 请关闭后重试！";

}  // namespace

std::wstring FailureText(InstallFailure failure, const std::wstring& installDir)
{
    switch (failure) {
    case InstallFailure::kNone:
    case InstallFailure::kCancelled:
        return {};
    case InstallFailure::kDamaged:
        return L"安装文件已损坏，请重新下载安装程序后再安装！";
    case InstallFailure::kDiskFull:
        if (installDir.size() >= 2 && installDir[1] == L':')
            return L"磁盘" + installDir.substr(0, 2) + L"剩余空间不足，请释放磁盘空间或者选择其他磁盘安装！";
        return L"磁盘剩余空间不足，请释放磁盘空间或者选择其他磁盘安装！";
    case InstallFailure::kCannotWrite:
        return L"安装目录无法写入，请检查权限或者选择其他安装目录！";
    case InstallFailure::kFolderRefused:
        return kForeignFolderText;
    case InstallFailure::kPathTooLong:
        return L"安装路径过长，请选择路径较短的安装目录！";
    case InstallFailure::kProgramRunning:
        return kInUseText;
    case InstallFailure::kSystemEntries:
        return L"创建快捷方式或写注册信息出错！请以管理员身份运行安装程序后重试！";
    }
    return {};
}

InstallFailure FailureFromError(DWORD error, InstallFailure fallback)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return InstallFailure::kDiskFull;
    case ERROR_FILENAME_EXCED_RANGE:
        return InstallFailure::kPathTooLong;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return fallback == InstallFailure::kSystemEntries ? fallback : InstallFailure::kCannotWrite;
    default:
        return fallback;
    }
}

bool InstallEngine::Fail(InstallFailure failure)
{
    if (failure_ == InstallFailure::kNone)
        failure_ = Stopped() ? InstallFailure::kCancelled : failure;
    return false;
}

bool InstallEngine::Proceed()
{
    WaitWhilePaused();
    return !Stopped() || Fail(InstallFailure::kCancelled);
}

// A run stopped from outside (power cut, Task Manager) leaves its aside
// folder; the earlier installation goes back before anything else, so this
// run carries its user data over as any upgrade does.
bool InstallEngine::RecoverInterruptedRuns(const std::wstring& installDir)
{
    if (!RecoverInterruptedInstall(installDir, KeptPlaces::Of(configuration_)))
        return Fail(HasFileInUse(installDir) ? InstallFailure::kProgramRunning : InstallFailure::kCannotWrite);
    return true;
}

bool InstallEngine::ClaimStagingFolder(const std::wstring& stagingDir)
{
    staging_ = HeldFolder();
    // Whatever has the name goes first, so that the folder the run unpacks
    // into is always one it made itself: never one another program made (it
    // would control what is in it) or a link. A leftover of an earlier run
    // of this installer goes, and an empty folder or a link itself; any other
    // folder of that name is not ours to delete, now or in the rollback.
    HeldFolder existing;
    if (OpenFolderNoFollow(stagingDir, FILE_SHARE_READ | FILE_SHARE_WRITE, &existing)) {
        UniqueFile tag;
        std::vector<FolderEntry> children;
        const bool ours = OpenChild(existing, kStagingTag, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 1 /* open */, 0, &tag);
        tag.reset();
        if (!ours && !(ListFolder(existing, &children) && children.empty())) {
            ::SetLastError(ERROR_ALREADY_EXISTS);
            return false;
        }
        existing = HeldFolder();
        if (!DeleteTaggedFolder(stagingDir, kStagingTag))
            return false;
    } else if (::GetLastError() == ERROR_DIRECTORY || ::GetLastError() == ERROR_CANT_ACCESS_FILE) {
        // A link in the folder's place is removed itself; a file is someone else's.
        const DWORD attributes = ::GetFileAttributesW(stagingDir.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !DeleteTree(stagingDir))
            return false;
    } else if (::GetLastError() != ERROR_FILE_NOT_FOUND && ::GetLastError() != ERROR_PATH_NOT_FOUND) {
        return false;
    }
    const size_t slash = stagingDir.rfind(L'\\');
    if (slash == std::wstring::npos)
        return false;
    const std::wstring parentPath = slash == 2 ? stagingDir.substr(0, 3) : stagingDir.substr(0, slash);
    HeldFolder parent;
    if (!services_->CreateFolderTree(parentPath.c_str()) ||
        !OpenFolderAsIs(parentPath, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &parent) ||
        !MakePrivateChildFolder(parent, stagingDir.substr(slash + 1), FILE_SHARE_READ | FILE_SHARE_WRITE, &staging_,
                                DELETE))
        return false;
    stagingOwned_ = true;
    return WriteNewChildFile(staging_, kStagingTag, {}, FILE_ATTRIBUTE_HIDDEN);
}

bool InstallEngine::StagingBecomesInstallation(const std::wstring& installDir)
{
    const size_t slash = installDir.rfind(L'\\');
    HeldFolder parent;
    if (slash == std::wstring::npos ||
        !OpenFolderAsIs(slash == 2 ? installDir.substr(0, 3) : installDir.substr(0, slash),
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &parent) ||
        !services_->RenameStaging(&staging_, parent, installDir.substr(slash + 1)))
        return false;
    // The installation is the player's product from here on; the journal
    // and the rollback reach it by its place.
    staging_ = HeldFolder();
    stagingOwned_ = false;
    return true;
}

void InstallEngine::DeleteHeldStaging()
{
    if (staging_) {
        std::vector<FolderEntry> children;
        bool emptied = ListFolder(staging_, &children);
        for (const FolderEntry& child : children)
            emptied = DeleteChild(staging_, child.name) && emptied;
        if (emptied)
            DeleteHeldFolder(&staging_);
        staging_ = HeldFolder();
    }
    stagingOwned_ = false;
}

bool InstallEngine::ListPayloadEntries(std::vector<ArchiveEntry>* entries) const
{
    return payload_.file && ListEntries(payload_.file.get(), payload_.offset, payload_.size,
                                        EntryDigestTable(payloadModule_), entries);
}

bool InstallEngine::RunInstall(int32_t* stepsDone)
{
    // 1. The installation folder and the staging folder beside it.
    const std::wstring& storedDir = chosenDir_;
    const std::wstring installDir = NormalizeInstallDir(storedDir);
    if (installDir.empty() && storedDir.size() >= MAX_PATH - 1)
        return Fail(InstallFailure::kPathTooLong);
    if (installDir.empty() || IsProtectedFolder(installDir))
        return Fail(InstallFailure::kCannotWrite);
    installDir_ = installDir;
    if (!RecoverInterruptedRuns(installDir))
        return false;
    const FolderState state =
        ClassifyInstallFolder(installDir, configuration_.Setting(kKeyExe), configuration_.Setting(kKeyUserDataFile));
    if (state == FolderState::Foreign) {
        host_->TellError(kForeignFolderText);
        failureShown_ = true;
        return Fail(InstallFailure::kFolderRefused);
    }
    const std::wstring stagingDir = StagingFolderPath(installDir);
    if (stagingDir.size() >= MAX_PATH - 1)
        return Fail(InstallFailure::kPathTooLong);
    if (!ClaimStagingFolder(stagingDir))
        return Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
    InstallTrace(L"创建临时文件\r\n");
    if (!Proceed())
        return false;

    // 2. The payload is read where it lies in the installer's own file, which
    // the engine has held since start-up: no copy in the temporary folder
    // that another program could swap before it is unpacked. Without it the
    // installer's own file cannot be read whole.
    if (!payload_.file)
        return Fail(InstallFailure::kDamaged);
    InstallTrace(L"将资源写入临时文件 temp.7z\r\n");
    if (!Proceed())
        return false;

    // 3. Over an earlier installation, only what it does not already hold
    // is unpacked.
    host_->ShowStatus(L"正在准备安装文件...");
    if (state == FolderState::EarlierInstall)
        PlanUpgradeOf(installDir);
    if (!Proceed())
        return false;

    // 4. Unpacking; the package shows each entry and stops on a cancel.
    ::SetLastError(ERROR_SUCCESS);
    const bool unpacked =
        services_->Decode(package_, payload_, staging_, stepsDone, upgrade_ ? &upgrade_->keep : nullptr);
    const DWORD decodeError = ::GetLastError();
    host_->FlushEntries();
    if (!unpacked)
        return Fail(FailureFromError(decodeError, InstallFailure::kDamaged));
    InstallTrace(L"解压 temp.7z 到 temp 文件夹\r\n");

    // From here on the worker waits at each step while the cancel question
    // is open, and stops there once it was confirmed.
    if (!Proceed())
        return false;
    // 5. There is no copy to delete.
    InstallTrace(L"删除temp.7z\r\n");

    // 6 and 7. The earlier installation out, the new one in.
    if (!Proceed())
        return false;
    if (!ReplacePreviousVersion(installDir))
        return false;

    // 8.
    const std::wstring mainProgram = configuration_.Setting(kKeyExe);
    const std::wstring mainLink = configuration_.Setting(kKeyExeLink);
    const std::wstring repairProgram = configuration_.Setting(kKeyRepairExe);
    const std::wstring repairLink = configuration_.Setting(kKeyRepairExeLink);
    const std::wstring repairArguments = configuration_.Setting(kKeyRepairExeCmd);
    const std::wstring mainPath = JoinPath(installDir, mainProgram);
    const std::wstring repairPath = JoinPath(installDir, repairProgram);

    // 9. Each replacement outside the folder is kept first, so that the
    // rollback puts back exactly what was there.
    if (!Proceed())
        return false;
    ShowStep(L"正在创建桌面快捷方式...", L"");
    if (!journal_->KeepFile(KeptSlot::kDesktopLink) ||
        !services_->CreateDesktopShortcut(mainPath.c_str(), mainLink.c_str(), nullptr))
        return Fail(InstallFailure::kSystemEntries);
    AdvanceProgress();
    InstallTrace(L"创建桌面快捷方式\r\n");

    // 10.
    if (!Proceed())
        return false;
    ShowStep(L"正在创建程序组...", L"");
    const std::wstring group = configuration_.Setting(kKeyDisplayName);
    if (!journal_->KeepFolder(KeptSlot::kProgramGroup) ||
        !services_->CreateProgramGroup(group.c_str()))
        return Fail(InstallFailure::kSystemEntries);
    AdvanceProgress();
    InstallTrace(L"正在创建程序组\r\n");

    // 11.
    if (!Proceed())
        return false;
    ShowStep(L"正在创建程序组快捷方式...", mainLink.c_str());
    if (!journal_->KeepFile(KeptSlot::kGroupMainLink) ||
        !services_->CreateGroupShortcut(mainPath.c_str(), group.c_str(), mainLink.c_str(), nullptr))
        return Fail(InstallFailure::kSystemEntries);
    InstallTrace(L"正在创建程序组快捷方式1\r\n");
    AdvanceProgress();

    // 12. The detail shows the repair program's file name, not its shortcut's.
    if (!Proceed())
        return false;
    ShowStep(L"正在创建程序组快捷方式...", repairProgram.c_str());
    if (!journal_->KeepFile(KeptSlot::kGroupRepairLink) ||
        !services_->CreateGroupShortcut(repairPath.c_str(), group.c_str(), repairLink.c_str(),
                                        repairArguments.c_str()))
        return Fail(InstallFailure::kSystemEntries);
    AdvanceProgress();
    InstallTrace(L"正在创建程序组快捷方式2\r\n");

    // 13. The last step: once it has succeeded the installation stands,
    // whatever the user answers now.
    if (!Proceed())
        return false;
    ShowStep(L"正在写注册信息...", L"");
    if (!journal_->KeepKey(KeptSlot::kUninstallEntry) ||
        !services_->RegisterUninstall(configuration_, installDir))
        return Fail(InstallFailure::kSystemEntries);
    InstallTrace(L"写注册信息成功\r\n");
    AdvanceProgress();

    // The earlier installation is given up only now. Should this fail, the
    // aside folder is marked done and the next run deletes it.
    journal_->Commit();
    journal_.reset();
    // The files kept in place were held, unchanged, up to the commit.
    upgrade_.reset();
    return true;
}

void InstallEngine::PlanUpgradeOf(const std::wstring& installDir)
{
    upgrade_.reset();
    std::vector<ArchiveEntry> entries;
    if (!ListPayloadEntries(&entries))
        return;
    auto plan = std::make_unique<UpgradePlan>();
    // What is kept stays held, unwritable and undeletable, until the commit.
    const std::vector<bool> inPlace = FindEntriesInPlace(installDir, entries, &package_.RunFlag(), &plan->keptHolds);
    // With nothing to keep, one rename of the whole folder beats moving
    // every file.
    if (!Stopped() && PlanUpgrade(installDir, entries, inPlace, configuration_.Setting(kKeyUserDataFile), plan.get()) &&
        std::find(plan->keep.begin(), plan->keep.end(), true) != plan->keep.end())
        upgrade_ = std::move(plan);
}

// 6 and 7 for an upgrade in place: only what changed is moved aside, into a
// folder marked as ours that also keeps what steps 9 to 13 replace, and the
// new files are moved in; the player's data file never moves.
bool InstallEngine::UpgradeInPlace(const std::wstring& installDir)
{
    ShowStep(L"正在删除旧版本文件...", installDir.c_str());
    while (AnyInUse(installDir, upgrade_->changes.movedAside)) {
        if (!host_->AskRetry(kInUseText)) {
            failureShown_ = true;
            return Fail(InstallFailure::kProgramRunning);
        }
        if (Stopped())
            return Fail(InstallFailure::kCancelled);
    }
    journal_ = InstallJournal::Create(installDir, KeptPlaces::Of(configuration_));
    if (!journal_)
        return Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
    if (!services_->MoveAsideChanged(*journal_, upgrade_->changes))
        return Fail(InstallFailure::kProgramRunning);
    AdvanceProgress();
    InstallTrace(L"删除旧版本文件\r\n");

    // No pause between the two steps: the product is incomplete until the
    // new files are in.
    ShowStep(L"正在覆盖旧版本文件...", installDir.c_str());
    if (!services_->MoveInChanged(*journal_, upgrade_->changes, staging_)) {
        const DWORD error = ::GetLastError();
        host_->MoveIntoPlaceFailed();
        return Fail(FailureFromError(error, InstallFailure::kCannotWrite));
    }
    // What is left of the staging folder is its tag and the folders the
    // files came out of.
    DeleteHeldStaging();
    AdvanceProgress();
    InstallTrace(L"重命名文件夹\r\n");
    return true;
}

bool InstallEngine::ReplacePreviousVersion(const std::wstring& installDir)
{
    if (upgrade_)
        return UpgradeInPlace(installDir);
    // 6. The earlier installation is moved aside, whole, into a folder marked
    // as ours that also keeps what steps 9 to 13 replace; it is deleted only
    // once the new installation is complete.
    const bool upgrade = IsDirectory(installDir.c_str()) != 0;
    if (upgrade) {
        ShowStep(L"正在删除旧版本文件...", installDir.c_str());
        // The user may close the program and try again; the user data file
        // is copied only then, with what the program wrote as it closed.
        while (HasFileInUse(installDir)) {
            if (!host_->AskRetry(kInUseText)) {
                failureShown_ = true;
                return Fail(InstallFailure::kProgramRunning);
            }
            if (Stopped())
                return Fail(InstallFailure::kCancelled);
        }
        const std::wstring userFile = configuration_.Setting(kKeyUserDataFile);
        if (!userFile.empty()) {
            HeldFolder installation;
            if (!OpenFolderNoFollow(installDir, FILE_SHARE_READ | FILE_SHARE_WRITE, &installation) ||
                !services_->CopyUserData(installation, userFile, staging_))
                return Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
        }
    }
    // A staging tag in an installation that stands would make the rollback
    // take it for this run's own.
    if (upgrade)
        DeleteFileNoFollow(JoinPath(installDir, kStagingTag));
    journal_ = InstallJournal::Create(installDir, KeptPlaces::Of(configuration_));
    if (!journal_)
        return Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
    if (upgrade && !journal_->MoveAside())
        return Fail(InstallFailure::kProgramRunning);
    AdvanceProgress();
    InstallTrace(L"删除旧版本文件\r\n");

    // 7. The staging folder becomes the installation folder, its tag kept
    // inside until the run is committed. No pause between the two steps:
    // the product is out of its place until the rename.
    ShowStep(L"正在覆盖旧版本文件...", installDir.c_str());
    if (!StagingBecomesInstallation(installDir)) {
        const DWORD error = ::GetLastError();
        host_->MoveIntoPlaceFailed();
        return Fail(FailureFromError(error, InstallFailure::kCannotWrite));
    }
    AdvanceProgress();
    InstallTrace(L"重命名文件夹\r\n");
    return true;
}
