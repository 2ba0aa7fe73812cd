// The run's steps: the payload unpacked from the installer's own file into
// the staging folder, the earlier installation replaced, shortcuts and the
// uninstall entry made, walked as the table (InstallRun::kSteps) lists them.
// Each step stops the run at its first failure; the undo is the rollback's,
// after the failure message.
#include "engine/install_run.h"
#include "engine/install_journal.h"

#include "config/config.h"
#include "config/uninstall_entry.h"
#include "package/payload_digest.h"
#include "system/file_ops.h"
#include "system/folder_handles.h"
#include "system/held_tree.h"
#include "system/install_access.h"
#include "system/install_log.h"
#include "system/install_folder.h"
#include "system/install_record.h"
#include "system/paths.h"
#include "system/private_folder.h"
#include "system/shortcuts.h"
#include "system/tagged_folder.h"
#include "system/trace.h"
#include "system/uninstall.h"

#include <algorithm>
#include <set>

namespace {

constexpr const wchar_t* kForeignFolderText = L"安装目录中已有其他文件，请选择其他安装目录！";
constexpr const wchar_t* kInUseText = L"覆盖安装文件出错！源程序正在运行， 请关闭后重试！";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The studio's writable folders, made where missing. One that cannot be
// made (a file of that name) stays as it is, read-only for Users, which
// costs the game its writes there and nothing else.
void MakeWritableFolders(const HeldFolder& root, const std::vector<std::wstring>& places,
                         std::wstring userDataFile)
{
    // Named as the places are, with "\\" between levels: never made a folder.
    std::replace(userDataFile.begin(), userDataFile.end(), L'/', L'\\');
    // A level shared by several places is made and held once.
    HeldTree tree(root, kShareAll, true);
    for (const std::wstring& place : places) {
        if (!SameText(place, userDataFile))
            tree.Folder(place);
    }
}

}  // namespace

namespace {

// Why a run failed, in the log's words and in the box's (none for no
// failure and for the user's own cancel).
struct FailureWords {
    InstallFailure failure;
    const wchar_t* log;
    const wchar_t* box;
};

// The disk-full box names the drive right after this word, where there is one.
constexpr wchar_t kDiskWord[] = L"磁盘";

constexpr FailureWords kFailureWords[] = {
    {InstallFailure::kNone, L"none", nullptr},
    {InstallFailure::kCancelled, L"cancelled by the player", nullptr},
    {InstallFailure::kDamaged, L"the payload cannot be read or decoded", L"安装文件已损坏，请重新下载安装程序后再安装！"},
    {InstallFailure::kDiskFull, L"the drive is full", L"磁盘剩余空间不足，请释放磁盘空间或者选择其他磁盘安装！"},
    {InstallFailure::kCannotWrite, L"a folder or file cannot be made or changed",
     L"安装目录无法写入，请检查权限或者选择其他安装目录！"},
    {InstallFailure::kFolderRefused, L"the folder holds files that are not this product's", kForeignFolderText},
    {InstallFailure::kPathTooLong, L"the folder's path is too long", L"安装路径过长，请选择路径较短的安装目录！"},
    {InstallFailure::kProgramRunning, L"a file of the earlier installation is in use", kInUseText},
    {InstallFailure::kSystemEntries, L"a shortcut or the uninstall entry cannot be made",
     L"创建快捷方式或写注册信息出错！请以管理员身份运行安装程序后重试！"},
};

const FailureWords* WordsFor(InstallFailure failure)
{
    for (const FailureWords& words : kFailureWords) {
        if (words.failure == failure)
            return &words;
    }
    return nullptr;
}

}  // namespace

std::wstring FailureText(InstallFailure failure, const std::wstring& installDir)
{
    const FailureWords* words = WordsFor(failure);
    if (!words || !words->box)
        return {};
    std::wstring text = words->box;
    if (failure == InstallFailure::kDiskFull && installDir.size() >= 2 && installDir[1] == L':')
        text.insert(std::size(kDiskWord) - 1, installDir.substr(0, 2));
    return text;
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

FolderState InstallFolderState(const Configuration& configuration, const std::wstring& installDir)
{
    const FolderState state =
        ClassifyInstallFolder(installDir, configuration.Setting(kKeyExe), configuration.Setting(kKeyUserDataFile));
    InstallRecord left;
    if (state == FolderState::Foreign &&
        ReadInstallRecord(KeptPlaces::Of(configuration).installRecord, installDir, &left))
        return FolderState::EarlierInstall;
    return state;
}

bool InstallRun::Fail(InstallFailure failure, DWORD error)
{
    if (failure_ == InstallFailure::kNone) {
        failure_ = Stopped() ? InstallFailure::kCancelled : failure;
        const std::wstring shown = FailureText(failure_, installDir_);
        const FailureWords* words = WordsFor(failure_);
        LogFailure(std::wstring(L"failed: ") + (words ? words->log : L"unknown") + (shown.empty() ? L"" : L" (told: " + shown + L")"),
                   failure_ == InstallFailure::kCancelled ? ERROR_SUCCESS : error);
    }
    return false;
}

bool InstallRun::Proceed()
{
    if (waitWhilePaused_)
        waitWhilePaused_();
    return !Stopped() || Fail(InstallFailure::kCancelled);
}

// A run stopped from outside (power cut, Task Manager) leaves its aside
// folder; the earlier installation goes back before anything else, so this
// run carries its user data over as any upgrade does.
bool InstallRun::RecoverInterruptedRuns(const std::wstring& installDir)
{
    if (!RecoverInterruptedInstall(installDir, KeptPlaces::Of(configuration_)))
        return Fail(HasFileInUse(installDir) ? InstallFailure::kProgramRunning : InstallFailure::kCannotWrite);
    return true;
}

bool InstallRun::ClaimStagingFolder(const std::wstring& stagingDir)
{
    staging_ = HeldFolder();
    // Whatever has the name goes first, so that the folder the run unpacks
    // into is always one it made itself: never one another program made (it
    // would control what is in it) or a link. A leftover of an earlier run
    // of this installer goes, and an empty folder or a link itself; any other
    // folder of that name is not ours to delete, now or in the rollback.
    const std::wstring parentPath = ParentOf(stagingDir);
    const std::wstring name = NameOf(stagingDir);
    if (parentPath.empty() || name.empty())
        return false;
    {
        // Checked and deleted through one hold on the entry, opened through
        // its held parent: nothing put in its place meanwhile is touched.
        HeldFolder above;
        std::wstring entry;
        if (OpenParentOf(stagingDir, &above, &entry)) {
            if (!DeleteTaggedFolder(above, entry, kStagingTag))
                return false;
        } else if (::GetLastError() != ERROR_FILE_NOT_FOUND && ::GetLastError() != ERROR_PATH_NOT_FOUND) {
            return false;
        }
    }
    HeldFolder parent;
    // A folder made above the installation (a second drive's program
    // folder) is the administrators' from the moment it exists.
    if (!services_->MakeInstallationParents(parentPath, &parent) ||
        !MakePrivateChildFolder(parent, name, FILE_SHARE_READ | FILE_SHARE_WRITE, &staging_, DELETE | WRITE_DAC))
        return false;
    stagingOwned_ = true;
    return WriteNewChildFile(staging_, kStagingTag, {}, FILE_ATTRIBUTE_HIDDEN);
}

bool InstallRun::StagingBecomesInstallation(const std::wstring& installDir)
{
    const std::wstring parentPath = ParentOf(installDir);
    HeldFolder parent;
    if (parentPath.empty() || !OpenFolderAsIs(parentPath, kShareAll, &parent) ||
        !services_->RenameStaging(&staging_, parent, NameOf(installDir)))
        return false;
    // The installation is the player's product from here on; the journal
    // and the rollback reach it by its place.
    staging_ = HeldFolder();
    stagingOwned_ = false;
    return true;
}

void InstallRun::DeleteHeldStaging()
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

bool InstallRun::ListPayloadEntries(std::vector<ArchiveEntry>* entries) const
{
    return payload_ && ListEntries(payload_, EntryDigestTable(payloadModule_), entries);
}

bool InstallRun::RunInstall(const std::wstring& chosenDir, int32_t* stepsDone)
{
    chosenDir_ = chosenDir;
    entriesBegun_ = 0;
    for (const InstallStepRow& row : kSteps) {
        if (row.pausesBefore && !Proceed())
            return false;
        const bool shown = !row.shownWhen || (this->*row.shownWhen)();
        if (row.status && shown)
            Show(row);
        const bool done = (!row.action || (this->*row.action)()) &&
                          (row.kept == kKeepsNothing || (Keep(row.kept) && (this->*row.entry)()) ||
                           Fail(InstallFailure::kSystemEntries));
        *stepsDone = entriesBegun_;
        if (!done)
            return false;
        if (row.advances)
            progress_.progressPosition.fetch_add(1);
        if (row.trace)
            InstallTrace(row.trace);
    }
    // The earlier installation is given up only now. Should this fail, the
    // aside folder is marked done and the next run deletes it.
    journal_->Commit();
    journal_.reset();
    RemoveDroppedFolders(installDir_);
    // The files kept in place were held, unchanged, up to the commit.
    upgrade_.reset();
    return true;
}

void InstallRun::Show(const InstallStepRow& row)
{
    if (row.detail == StepDetail::kUnchanged) {
        host_->ShowStatus(row.status);
        return;
    }
    std::wstring detail;
    if (row.detail == StepDetail::kInstallDir)
        detail = installDir_;
    else if (row.detail == StepDetail::kMainLink)
        detail = configuration_.Setting(kKeyExeLink);
    else if (row.detail == StepDetail::kRepairProgram)
        detail = configuration_.Setting(kKeyRepairExe);
    ShowStep(row.status, detail.c_str());
}

// The installation folder and the staging folder beside it.
bool InstallRun::CheckFolders()
{
    const std::wstring& storedDir = chosenDir_;
    const std::wstring installDir = NormalizeInstallDir(storedDir);
    if (installDir.empty() && storedDir.size() >= MAX_PATH - 1)
        return Fail(InstallFailure::kPathTooLong);
    if (installDir.empty() || IsProtectedFolder(installDir))
        return Fail(InstallFailure::kCannotWrite);
    installDir_ = installDir;
    LogLine(L"installing into " + installDir);
    if (!RecoverInterruptedRuns(installDir))
        return false;
    folderState_ = InstallFolderState(configuration_, installDir);
    if (folderState_ == FolderState::Foreign) {
        host_->TellError(kForeignFolderText);
        failureShown_ = true;
        return Fail(InstallFailure::kFolderRefused);
    }
    const std::wstring stagingDir = StagingFolderPath(installDir);
    if (stagingDir.size() >= MAX_PATH - 1)
        return Fail(InstallFailure::kPathTooLong);
    if (!ClaimStagingFolder(stagingDir))
        return Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
    return true;
}

// The payload is read where it lies in the installer's own file, which the
// run has held since start-up: no copy in the temporary folder that another
// program could swap before it is unpacked. Without it the installer's own
// file cannot be read whole.
bool InstallRun::HasPayload() { return payload_ || Fail(InstallFailure::kDamaged); }

// Over an earlier installation, only what it does not already hold is unpacked.
bool InstallRun::Prepare()
{
    entries_.clear();
    if (!ListPayloadEntries(&entries_))
        return Fail(InstallFailure::kDamaged);
    if (folderState_ == FolderState::EarlierInstall && !PlanUpgradeOf(installDir_))
        return Fail(Stopped() ? InstallFailure::kCancelled : InstallFailure::kCannotWrite);
    return true;
}

// The package shows each entry and stops on a cancel.
bool InstallRun::Unpack()
{
    ::SetLastError(ERROR_SUCCESS);
    // Every file and folder is made with the product's list from the start:
    // no walk over thousands of entries to give it afterwards.
    package_.SetNewEntryAccess(EntryAccessDescriptor(EntryAccess::kProduct, false),
                               EntryAccessDescriptor(EntryAccess::kProduct, true));
    const bool unpacked =
        services_->Decode(package_, payload_, staging_, &entriesBegun_, upgrade_ ? &upgrade_->keep : nullptr);
    const DWORD decodeError = ::GetLastError();
    host_->FlushEntries();
    return unpacked || Fail(FailureFromError(decodeError, InstallFailure::kDamaged), decodeError);
}

// Each replacement outside the folder is kept first (the row's KeptSlot),
// so that the rollback puts back exactly what was there.
bool InstallRun::Keep(KeptSlot slot)
{
    if (slot == KeptSlot::kProgramGroup)
        return journal_->KeepFolder(slot);
    if (slot == KeptSlot::kUninstallEntry)
        return journal_->KeepKey(slot);
    return journal_->KeepFile(slot);
}

bool InstallRun::MakeDesktopLink()
{
    return services_->CreateDesktopShortcut(JoinPath(installDir_, configuration_.Setting(kKeyExe)).c_str(),
                                            configuration_.Setting(kKeyExeLink).c_str(), nullptr);
}

bool InstallRun::MakeProgramGroup()
{
    return services_->CreateProgramGroup(configuration_.Setting(kKeyDisplayName).c_str());
}

bool InstallRun::MakeGroupMainLink()
{
    return services_->CreateGroupShortcut(JoinPath(installDir_, configuration_.Setting(kKeyExe)).c_str(),
                                          configuration_.Setting(kKeyDisplayName).c_str(),
                                          configuration_.Setting(kKeyExeLink).c_str(), nullptr);
}

bool InstallRun::MakeGroupRepairLink()
{
    return services_->CreateGroupShortcut(JoinPath(installDir_, configuration_.Setting(kKeyRepairExe)).c_str(),
                                          configuration_.Setting(kKeyDisplayName).c_str(),
                                          configuration_.Setting(kKeyRepairExeLink).c_str(),
                                          configuration_.Setting(kKeyRepairExeCmd).c_str());
}

// The last step: once it has succeeded the installation stands, whatever
// the user answers now.
bool InstallRun::WriteRecordStep()
{
    return WriteRecord(installDir_) || Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
}

bool InstallRun::MakeUninstallEntry() { return services_->RegisterUninstall(configuration_, installDir_); }

namespace {

// Whether the player's data file, where there is one, is a plain file of
// one name: one of a second name (of a file only administrators may read)
// is neither kept in place nor copied, and the run refuses it as it
// refuses a link there.
bool UserDataFileIsPlain(const std::wstring& installDir, const std::wstring& userFile)
{
    if (userFile.empty())
        return true;
    // The setting may separate its levels with "/" too.
    std::wstring relative = userFile;
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    HeldFolder root;
    HeldFolder folder;
    UniqueFile file;
    if (!OpenFolderNoFollow(installDir, kShareAll, &root) ||
        !OpenFolderBelow(root, ParentOf(relative), false, kShareAll, &folder) ||
        !OpenChild(folder, NameOf(relative), FILE_READ_ATTRIBUTES, kShareAll, kFileOpen, 0, &file)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file.get(), &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           info.nNumberOfLinks == 1;
}

}  // namespace

bool InstallRun::WriteRecord(const std::wstring& installDir)
{
    const KeptPlaces places = KeptPlaces::Of(configuration_);
    if (places.installRecord.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    InstallRecord record = RecordOf(installDir, entries_);
    record.desktopLink = places.desktopLink;
    record.programGroup = places.programGroup;
    return journal_->KeepFile(KeptSlot::kInstallRecord) && WriteInstallRecord(places.installRecord, record);
}

void InstallRun::RemoveDroppedFolders(const std::wstring& installDir)
{
    if (!upgrade_ || upgrade_->droppedFolders.empty())
        return;
    HeldFolder root;
    if (!OpenFolderNoFollow(installDir, FILE_SHARE_READ | FILE_SHARE_WRITE, &root))
        return;
    // Deepest first, each let go of before it is deleted: a hold on a
    // folder would keep it.
    HeldTree tree(root, kShareAll);
    const auto& dropped = upgrade_->droppedFolders;
    for (auto it = dropped.rbegin(); it != dropped.rend(); ++it) {
        tree.Release(*it);
        std::wstring name;
        if (const HeldFolder* parent = tree.FolderOf(*it, &name))
            RemoveChildFolderIfEmpty(*parent, name);
    }
}

bool InstallRun::PlanUpgradeOf(const std::wstring& installDir)
{
    upgrade_.reset();
    if (!UserDataFileIsPlain(installDir, configuration_.Setting(kKeyUserDataFile)))
        return false;
    auto plan = std::make_unique<UpgradePlan>();
    // What is kept stays held, unwritable and undeletable, until the commit.
    const std::vector<bool> inPlace = FindEntriesInPlace(installDir, entries_, &package_.RunFlag(), &plan->keptHolds);
    // Without a record that reads back as ours, the earlier installation's
    // files are those at names the new version has: nothing else goes.
    InstallRecord previous;
    const bool recorded =
        ReadInstallRecord(KeptPlaces::Of(configuration_).installRecord, installDir, &previous);
    if (Stopped() || !PlanUpgrade(installDir, entries_, inPlace, configuration_.Setting(kKeyUserDataFile),
                                  recorded ? &previous : nullptr, plan.get()))
        return false;
    const size_t kept = static_cast<size_t>(std::count(plan->keep.begin(), plan->keep.end(), true));
    InstallTrace((L"升级计划：保留 " + std::to_wstring(kept) + L" 个文件，替换或删除 " +
                  std::to_wstring(plan->changes.movedAside.size()) + L" 项，写入 " +
                  std::to_wstring(plan->changes.addedFiles.size()) + L" 个文件，玩家的 " +
                  std::to_wstring(plan->playerEntries) + L" 项不动" + (recorded ? L"" : L"（无安装记录）") + L"\r\n")
                     .c_str());
    for (const KeptBeside& beside : plan->changes.keptBeside)
        InstallTrace((L"保留玩家文件 " + beside.from + L" 为 " + beside.to + L"\r\n").c_str());
    // The entries that get the installation's list: what this run puts in
    // place, and whatever the earlier record does not vouch for (the
    // entries a recorded run placed have it already, so an upgrade still
    // costs what changed).
    std::set<std::wstring> vouched;
    if (recorded) {
        for (const InstalledFile& file : previous.files)
            vouched.insert(TextKey(file.name));
        for (const std::wstring& folder : previous.folders)
            vouched.insert(TextKey(folder));
    }
    productEntries_.clear();
    for (size_t i = 0; i < entries_.size(); ++i) {
        const bool placed = entries_[i].isFolder ? false : !plan->keep[i];
        if (placed || !vouched.count(TextKey(entries_[i].name)))
            productEntries_.push_back(entries_[i].name);
    }
    for (const std::wstring& folder : plan->changes.addedFolders)
        productEntries_.push_back(folder);
    upgrade_ = std::move(plan);
    return true;
}


std::vector<std::wstring> InstallRun::WritablePlaces() const
{
    const std::wstring programs[] = {configuration_.Setting(kKeyExe), configuration_.Setting(kKeyRepairExe),
                                     configuration_.Setting(kKeyUninstallExe)};
    std::vector<std::wstring> places;
    auto add = [&](std::wstring place) {
        std::replace(place.begin(), place.end(), L'/', L'\\');
        while (!place.empty() && (place.back() == L'\\' || place.back() == L' '))
            place.pop_back();
        while (!place.empty() && place.front() == L' ')
            place.erase(0, 1);
        if (place.empty() || !IsSafeEntryName(place.c_str()))
            return;
        // Nothing elevated runs anything from a place the player writes.
        for (const std::wstring& program : programs) {
            if (!program.empty() && IsInsideFolder(program, place))
                return;
        }
        places.push_back(place);
    };
    const std::wstring folders = configuration_.Setting(kKeyWritableDirs);
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(L';', start);
        if (end == std::wstring::npos)
            end = folders.size();
        add(folders.substr(start, end - start));
        start = end + 1;
    }
    add(configuration_.Setting(kKeyUserDataFile));
    return places;
}

bool InstallRun::ReplacesEarlier()
{
    replacesEarlier_ = upgrade_ || IsDirectory(installDir_.c_str()) != 0;
    return replacesEarlier_;
}

// The user may close the program and try again.
bool InstallRun::WaitUntilNotInUse(const std::function<bool()>& inUse)
{
    while (inUse()) {
        if (!host_->AskRetry(kInUseText)) {
            failureShown_ = true;
            return Fail(InstallFailure::kProgramRunning);
        }
        if (Stopped())
            return Fail(InstallFailure::kCancelled);
    }
    return true;
}

// The aside folder, marked as ours, that also keeps what the system entries' steps replace.
bool InstallRun::OpenJournal()
{
    journal_ = InstallJournal::Create(installDir_, KeptPlaces::Of(configuration_));
    return journal_ || Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
}

// For an upgrade in place only what changed is moved aside; else the
// earlier installation is moved aside whole, and deleted only once the new
// installation is complete. The player's data file never moves.
bool InstallRun::MoveAside()
{
    const std::wstring& installDir = installDir_;
    if (upgrade_) {
        std::vector<std::wstring> touched = upgrade_->changes.movedAside;
        for (const KeptBeside& beside : upgrade_->changes.keptBeside)
            touched.push_back(beside.from);
        return WaitUntilNotInUse([&] { return AnyInUse(installDir, touched); }) && OpenJournal() &&
               (services_->MoveAsideChanged(*journal_, upgrade_->changes) || Fail(InstallFailure::kProgramRunning));
    }
    if (replacesEarlier_) {
        // The user data file is copied only once nothing is in use, with
        // what the program wrote as it closed.
        if (!WaitUntilNotInUse([&] { return HasFileInUse(installDir); }))
            return false;
        const std::wstring userFile = configuration_.Setting(kKeyUserDataFile);
        if (!userFile.empty()) {
            HeldFolder installation;
            if (!OpenFolderNoFollow(installDir, FILE_SHARE_READ | FILE_SHARE_WRITE, &installation) ||
                !services_->CopyUserData(installation, userFile, staging_))
                return Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
        }
    }
    // The staging folder takes the installation's list, and the places the
    // game writes theirs, before it becomes the installation: held, each
    // entry reached through its folder.
    // Its files and folders were made with the product's list: only the
    // folder itself and the places the game writes are left to give theirs.
    {
        const std::vector<std::wstring> writable = WritablePlaces();
        MakeWritableFolders(staging_, writable, configuration_.Setting(kKeyUserDataFile));
        std::vector<std::wstring> places = writable;
        for (const ArchiveEntry& entry : entries_) {
            if (IsWritablePlace(entry.name, writable))
                places.push_back(entry.name);
        }
        if (!ApplyInstallationAccess(staging_) || !ApplyEntryAccessBelow(staging_, places, writable))
            return Fail(FailureFromError(::GetLastError(), InstallFailure::kCannotWrite));
    }
    // A staging tag in an installation that stands would make the rollback
    // take it for this run's own.
    if (replacesEarlier_)
        DeleteFileNoFollow(JoinPath(installDir, kStagingTag));
    if (!OpenJournal())
        return false;
    if (replacesEarlier_ && !journal_->MoveAside())
        return Fail(InstallFailure::kProgramRunning);
    return true;
}

// The new files moved in, or the staging folder renamed into place, its tag
// kept inside until the run is committed.
bool InstallRun::MoveIn()
{
    const std::wstring& installDir = installDir_;
    if (!upgrade_) {
        if (!StagingBecomesInstallation(installDir)) {
            const DWORD error = ::GetLastError();
            return Fail(FailureFromError(error, InstallFailure::kCannotWrite));
        }
        return true;
    }
    if (!services_->MoveInChanged(*journal_, upgrade_->changes, staging_)) {
        const DWORD error = ::GetLastError();
        return Fail(FailureFromError(error, InstallFailure::kCannotWrite));
    }
    // The product's entries get the installation's list (files moved in
    // from the staging folder carry its administrators-only one); the
    // folder's own list changes without reaching into what is in it, so the
    // player's files and folders keep what their player may do.
    const std::vector<std::wstring> writable = WritablePlaces();
    std::vector<std::wstring> strict;
    std::vector<std::wstring> lenient = writable;
    for (const std::wstring& entry : productEntries_)
        (IsWritablePlace(entry, writable) ? lenient : strict).push_back(entry);
    HeldFolder install;
    if (!OpenFolderNoFollow(installDir, kShareAll, &install, WRITE_DAC) || !ApplyInstallationAccess(install) ||
        !ApplyEntryAccessBelow(install, strict, writable)) {
        const DWORD error = ::GetLastError();
        return Fail(FailureFromError(error, InstallFailure::kCannotWrite));
    }
    // The places the game writes are the player's: one that cannot be given
    // its list (a hard link) keeps the one it has.
    MakeWritableFolders(install, writable, configuration_.Setting(kKeyUserDataFile));
    ApplyEntryAccessBelow(install, lenient, writable);
    install = HeldFolder();
    // What is left of the staging folder is its tag and the folders the
    // files came out of.
    DeleteHeldStaging();
    return true;
}
