#include "engine/install_engine.h"

#include "config/config.h"
#include "config/uninstall_entry.h"
#include "system/file_ops.h"
#include "system/folder_handles.h"
#include "system/install_access.h"
#include "system/install_log.h"
#include "system/paths.h"
#include "system/run_folder.h"
#include "system/shortcuts.h"
#include "package/payload_digest.h"
#include "system/trace.h"
#include "system/uninstall.h"

#include <algorithm>

namespace {

void IgnorePackageLog(void*, const char*) {}

constexpr int kPayloadResourceId = 148;
constexpr const wchar_t* kPayloadResourceType = L"DATA";
constexpr const wchar_t* kPayloadCopyName = L"temp.7z";

constexpr const wchar_t* kUnpackingStatus = L"正在解压文件";

InstallServices& RealServices()
{
    static InstallServices services;
    return services;
}

// Without a host (the silent installation, or before one attaches): shows
// nothing, and answers no question with a retry.
class NoHost : public InstallHost {
public:
    void ShowStatus(const wchar_t*) override {}
    void ShowDetail(const wchar_t*) override {}
    void ShowProgress(int32_t, int32_t) override {}
    bool AskRetry(const wchar_t*) override { return false; }
    void TellError(const wchar_t*) override {}
};

InstallHost& NobodyShowing()
{
    static NoHost host;
    return host;
}

}  // namespace

// ---------------------------------------------------------------------------
// The real services

bool InstallServices::MakeInstallationParents(const std::wstring& folder, HeldFolder* parent)
{
    return ::MakeInstallationParents(folder, parent);
}

namespace {

bool OpenPayloadWindow(HMODULE module, ResourceWindow* payload)
{
    if (OpenResourceWindow(module, kPayloadResourceId, kPayloadResourceType, payload))
        return true;
    // An image whose file cannot be read that way (its sections not where
    // the loader put them): a copy in the run's own folder, held the same way.
    const std::wstring folder = RunFolder();
    return !folder.empty() && CopyResourceToHeldFile(module, kPayloadResourceId, kPayloadResourceType,
                                                     JoinPath(folder, kPayloadCopyName).c_str(), payload);
}

}  // namespace

bool OpenPayload(HMODULE module, PayloadSource* payload)
{
    *payload = PayloadSource();
    if (!OpenPayloadWindow(module, &payload->image))
        return false;
    if (!OpenDataFiles(module, payload)) {
        *payload = PayloadSource();
        return false;
    }
    return true;
}

bool InstallServices::OpenPayload(HMODULE module, PayloadSource* payload) { return ::OpenPayload(module, payload); }

bool InstallServices::Decode(CSPPackage& package, const PayloadSource& payload, const HeldFolder& folder,
                             int32_t* current, const std::vector<bool>* keep)
{
    return package.Decode(payload, folder, current, keep);
}

bool InstallServices::MoveAsideChanged(InstallJournal& journal, const InPlaceChanges& changes)
{
    return journal.MoveAsideChanged(changes);
}

bool InstallServices::MoveInChanged(InstallJournal& journal, const InPlaceChanges& changes,
                                    const HeldFolder& staging)
{
    return journal.MoveInChanged(changes, staging);
}

bool InstallServices::RenameStaging(HeldFolder* staging, const HeldFolder& parent, const std::wstring& name)
{
    return RenameHeldFolder(staging, parent, name);
}

bool InstallServices::CopyUserData(const HeldFolder& installation, const std::wstring& relative,
                                   const HeldFolder& staging)
{
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const std::wstring folder = ParentOf(relative);
    const std::wstring name = NameOf(relative);
    // The user data file comes from a folder its user can write: each level
    // is opened through the one above, and a link anywhere is not followed.
    HeldFolder from;
    UniqueFile source;
    if (!OpenFolderBelow(installation, folder, false, kShare, &from) ||
        !OpenChild(from, name, GENERIC_READ, FILE_SHARE_READ, kFileOpen, kNonDirectoryFile, &source)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return true;
        // Anything else at that place (a link above all) is not the player's file.
        ::SetLastError(error == ERROR_DIRECTORY ? ERROR_CANT_ACCESS_FILE : error);
        return false;
    }
    // A second name may be a file its user should not reach, linked in.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(source.get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !::GetFileInformationByHandleEx(source.get(), FileStandardInfo, &standard, sizeof(standard)))
        return false;
    if ((tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        standard.NumberOfLinks != 1) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    // Written relative to the held staging folder: the new version's file
    // of that name goes first, and the copy is made where nothing is.
    HeldFolder to;
    UniqueFile target;
    if (!OpenFolderBelow(staging, folder, true, kShare, &to) || !DeleteChild(to, name) ||
        !OpenChild(to, name, GENERIC_WRITE, 0, kFileCreate, kNonDirectoryFile, &target))
        return false;
    std::vector<char> chunk(1 << 20);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(source.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr))
            return false;
        if (read == 0)
            return ::FlushFileBuffers(target.get()) != FALSE;
        DWORD written = 0;
        if (!::WriteFile(target.get(), chunk.data(), read, &written, nullptr) || written != read)
            return false;
    }
}

bool InstallServices::CreateDesktopShortcut(const wchar_t* target, const wchar_t* name, const wchar_t* arguments)
{
    return ::CreateDesktopShortcut(target, name, arguments);
}

bool InstallServices::CreateProgramGroup(const wchar_t* group) { return ::CreateProgramGroup(nullptr, group); }

bool InstallServices::CreateGroupShortcut(const wchar_t* target, const wchar_t* group, const wchar_t* name,
                                          const wchar_t* arguments)
{
    return ::CreateGroupShortcut(nullptr, target, group, name, arguments);
}

bool InstallServices::RegisterUninstall(const Configuration& configuration, const std::wstring& installDir)
{
    return ::RegisterUninstall(configuration, installDir);
}

// ---------------------------------------------------------------------------
// Paths

std::wstring StagingFolderPath(const std::wstring& installDir)
{
    if (installDir.empty())
        return {};
    const std::wstring parent = ParentOf(installDir);
    return JoinPath(parent.empty() ? installDir : parent, NameOf(installDir) + L".temp");
}

uint64_t PayloadUnpackedBytes(const PayloadSource& payload)
{
    std::vector<ArchiveEntry> entries;
    if (!payload || !ListEntries(payload, &entries))
        return 0;
    uint64_t bytes = 0;
    for (const ArchiveEntry& entry : entries)
        bytes += entry.size;
    return bytes;
}

int RequiredSpaceMB(int configuredMB, uint64_t payloadBytes)
{
    const uint64_t payloadMB = (payloadBytes + (1u << 20) - 1) >> 20;
    const uint64_t required = std::max<uint64_t>(configuredMB > 0 ? configuredMB : 0, payloadMB);
    return static_cast<int>(std::min<uint64_t>(required, INT32_MAX));
}

int32_t ProgressRangeUpperBound(int32_t total) { return total + kStepsBesideEntries; }

// ---------------------------------------------------------------------------
// The run's own set-up

InstallRun::InstallRun(const Configuration& configuration, const PayloadSource& payload, InstallServices* services)
    : configuration_(configuration), services_(services ? services : &RealServices()), host_(&NobodyShowing())
{
    UsePayload(payload);
}

InstallRun::InstallRun(const Configuration& configuration, HMODULE payloadModule, InstallServices* services)
    : configuration_(configuration), services_(services ? services : &RealServices()), host_(&NobodyShowing()),
      payloadModule_(payloadModule)
{
    // Without it the run fails at its payload step.
    if (!services_->OpenPayload(payloadModule, &payload_))
        payload_ = PayloadSource();
}

void InstallRun::UsePayload(const PayloadSource& payload)
{
    // Without handles of its own the run fails at its payload step.
    SharePayloadSource(payload, &payload_);
}

InstallRun::~InstallRun() = default;

bool InstallRun::Attach(InstallHost* host)
{
    host_ = host ? host : &NobodyShowing();
    package_.SetGate(WaitAtGate);
    return package_.SetCallbacks(this, OnExtractProgress, IgnorePackageLog);
}

void InstallRun::WaitAtGate(void* context)
{
    const auto* run = static_cast<InstallRun*>(context);
    if (run->waitWhilePaused_)
        run->waitWhilePaused_();
}

bool InstallRun::Install(const std::wstring& chosenDir)
{
    int32_t stepsDone = 0;
    bool ok = false;
    try {
        ok = RunInstall(chosenDir, &stepsDone);
    } catch (...) {
        // Nothing may unwind out of the thread; a step that threw failed.
        ok = false;
    }
    if (ok)
        return true;
    // A step that failed without naming why is told as a write failure.
    Fail(InstallFailure::kCannotWrite);
    host_->RunOnHostThread([this, stepsDone] { RollBack(stepsDone); });
    return false;
}

// ---------------------------------------------------------------------------
// The worker

bool InstallEngine::Attach(InstallHost* host)
{
    host_ = host;
    return run_.Attach(host);
}

void InstallEngine::SignalStart(const std::wstring& installDir)
{
    chosenDir_ = installDir;
    ::SetEvent(startEvent_.get());
}

unsigned __stdcall InstallEngine::InstallThreadProc(void* parameter)
{
    if (!parameter)
        return 0;
    auto* engine = static_cast<InstallEngine*>(parameter);
    ::WaitForSingleObject(engine->startEvent_.get(), INFINITE);
    const bool ok = engine->run_.Install(engine->chosenDir_);
    engine->succeeded_.store(ok);
    if (ok) {
        InstallTrace(L"安装线程退出\r\n");
        LogLine(L"installed");
    }
    InstallHost* host = engine->host_;
    engine->running_.store(false);
    if (host)
        host->Ended(ok);
    return 0;
}

bool InstallEngine::WorkerEnded(bool* succeeded) const
{
    if (running_.load())
        return false;
    if (succeeded)
        *succeeded = succeeded_.load();
    return true;
}

void InstallEngine::PauseWorker()
{
    ::ResetEvent(notPaused_.get());
    paused_.store(true);
}

void InstallEngine::ResumeWorker()
{
    paused_.store(false);
    ::SetEvent(notPaused_.get());
}

void InstallEngine::WaitWhilePaused() const
{
    // The gate is passed before every archive entry: only a pause costs a
    // wait on the event, which under Wine is a round trip to its server.
    if (paused_.load())
        ::WaitForSingleObject(notPaused_.get(), INFINITE);
}

// ---------------------------------------------------------------------------
// What the host shows

void InstallRun::ShowProgress()
{
    host_->ShowProgress(progress_.progressPosition.load(), ProgressRangeUpperBound(progress_.progressTotal.load()));
}

void InstallRun::ShowStep(const wchar_t* status, const wchar_t* detail)
{
    host_->ShowStatus(status);
    host_->ShowDetail(detail);
    ShowProgress();
}

void InstallRun::OnExtractProgress(void* context, ExtractProgress progress)
{
    auto* run = static_cast<InstallRun*>(context);
    run->progress_.progressTotal.store(static_cast<int32_t>(progress.total));
    run->progress_.progressPosition.store(static_cast<int32_t>(progress.index));
    progress.name[std::size(progress.name) - 1] = L'\0';
    run->host_->ShowEntry(kUnpackingStatus, progress.name, static_cast<int32_t>(progress.index),
                          ProgressRangeUpperBound(static_cast<int32_t>(progress.total)), progress.bytesDone,
                          progress.bytesTotal);
}
