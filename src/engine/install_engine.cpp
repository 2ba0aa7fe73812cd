#include "engine/install_engine.h"

#include "config/config.h"
#include "config/uninstall_entry.h"
#include "system/file_ops.h"
#include "system/folder_handles.h"
#include "system/install_log.h"
#include "system/shortcuts.h"
#include "system/trace.h"
#include "system/uninstall.h"

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

int InstallServices::CreateFolderTree(const wchar_t* path) { return ::CreateFolderTree(path); }

bool OpenPayload(HMODULE module, ResourceWindow* payload)
{
    if (OpenResourceWindow(module, kPayloadResourceId, kPayloadResourceType, payload))
        return true;
    // An image whose file cannot be read that way (its sections not where
    // the loader put them): a copy in the run's own folder, held the same way.
    const std::wstring folder = RunFolder();
    return !folder.empty() && CopyResourceToHeldFile(module, kPayloadResourceId, kPayloadResourceType,
                                                     JoinPath(folder, kPayloadCopyName).c_str(), payload);
}

bool InstallServices::OpenPayload(HMODULE module, ResourceWindow* payload) { return ::OpenPayload(module, payload); }

bool InstallServices::Decode(CSPPackage& package, const ResourceWindow& payload, const wchar_t* folder,
                             int32_t* current, const std::vector<bool>* keep)
{
    return package.Decode(payload.file.get(), payload.offset, payload.size, folder, current, keep);
}

int InstallServices::DeletePath(const wchar_t* path) { return ::DeletePath(path); }

bool InstallServices::MoveAsideChanged(InstallJournal& journal, const InPlaceChanges& changes)
{
    return journal.MoveAsideChanged(changes);
}

bool InstallServices::MoveInChanged(InstallJournal& journal, const InPlaceChanges& changes,
                                    const std::wstring& stagingDir)
{
    return journal.MoveInChanged(changes, stagingDir);
}

int InstallServices::RenamePath(const wchar_t* newPath, const wchar_t* existingPath)
{
    return ::RenamePath(newPath, existingPath);
}

int InstallServices::CopyPath(const wchar_t* destination, const wchar_t* source)
{
    // The user data file comes from a folder its user can write: a link
    // planted there is not read through, and the copy replaces whatever the
    // new version has at that place rather than writing through it.
    const std::wstring target(destination);
    const size_t slash = target.rfind(L'\\');
    if (slash != std::wstring::npos && !::CreateFolderTree(target.substr(0, slash).c_str()))
        return 0;
    return CopyFileNoFollow(source, destination) ? 1 : 0;
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
    const size_t slash = installDir.rfind(L'\\');
    const std::wstring name = slash == std::wstring::npos ? installDir : installDir.substr(slash + 1);
    const std::wstring parent = slash == std::wstring::npos ? installDir : installDir.substr(0, slash);
    return JoinPath(parent, name + L".temp");
}

int32_t ProgressRangeUpperBound(int32_t total) { return total + 6; }

// ---------------------------------------------------------------------------
// The shared record and the engine

InstallProgress::InstallProgress()
{
    installEnabled.Set(1);
    succeeded.Set(1);
    workerRunning.Set(1);
}

InstallEngine::InstallEngine(const Configuration& configuration, const ResourceWindow& payload,
                             InstallServices* services)
    : configuration_(configuration), services_(services ? services : &RealServices()), host_(&NobodyShowing())
{
    UsePayload(payload);
}

InstallEngine::InstallEngine(const Configuration& configuration, HMODULE payloadModule, InstallServices* services)
    : configuration_(configuration), services_(services ? services : &RealServices()), host_(&NobodyShowing())
{
    // Without it the run fails at its second step.
    if (!services_->OpenPayload(payloadModule, &payload_))
        payload_ = ResourceWindow();
}

void InstallEngine::UsePayload(const ResourceWindow& payload)
{
    // Without a handle of its own the run fails at its second step.
    ShareResourceWindow(payload, &payload_);
}

InstallEngine::~InstallEngine() = default;

bool InstallEngine::Attach(InstallHost* host)
{
    host_ = host ? host : &NobodyShowing();
    package_.SetGate(WaitAtGate);
    return package_.SetCallbacks(this, OnExtractProgress, IgnorePackageLog);
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
    if (engine->progress_.installEnabled.Get() != 0) {
        int32_t stepsDone = 0;
        bool ok = false;
        try {
            ok = engine->RunInstall(&stepsDone);
        } catch (...) {
            // Nothing may unwind out of the thread; a step that threw failed.
            ok = false;
        }
        // A step that failed without naming why is told as a write failure.
        if (!ok)
            engine->Fail(InstallFailure::kCannotWrite);
        engine->progress_.succeeded.Set(ok ? 1 : 0);
        if (ok) {
            InstallTrace(L"安装线程退出\r\n");
            LogLine(L"installed");
        }
        else
            engine->host_->RunRollback(stepsDone, [engine, stepsDone] { engine->RollBack(stepsDone); });
    }
    InstallHost* host = engine->host_;
    engine->progress_.workerRunning.Set(0);
    host->Ended();
    return 0;
}

bool InstallEngine::WorkerEnded(bool* succeeded) const
{
    if (progress_.workerRunning.Get() != 0)
        return false;
    if (succeeded)
        *succeeded = progress_.succeeded.Get() != 0;
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

void InstallEngine::StopExtraction() { package_.RunFlag().Set(0); }

void InstallEngine::WaitWhilePaused() const
{
    // The gate is passed before every archive entry: only a pause costs a
    // wait on the event, which under Wine is a round trip to its server.
    if (paused_.load())
        ::WaitForSingleObject(notPaused_.get(), INFINITE);
}

void InstallEngine::WaitAtGate(void* context) { static_cast<InstallEngine*>(context)->WaitWhilePaused(); }

// ---------------------------------------------------------------------------
// What the host shows

void InstallEngine::ShowProgress()
{
    host_->ShowProgress(progress_.progressPosition.Get(), ProgressRangeUpperBound(progress_.progressTotal.Get()));
}

void InstallEngine::ShowStep(const wchar_t* status, const wchar_t* detail)
{
    host_->ShowStatus(status);
    host_->ShowDetail(detail);
    ShowProgress();
}

int32_t InstallEngine::AdvanceProgress() { return progress_.progressPosition.Increment(); }

void InstallEngine::OnExtractProgress(void* context, ExtractProgress progress)
{
    auto* engine = static_cast<InstallEngine*>(context);
    engine->progress_.progressTotal.Set(static_cast<int32_t>(progress.total));
    engine->progress_.progressPosition.Set(static_cast<int32_t>(progress.index));
    progress.name[std::size(progress.name) - 1] = L'\0';
    engine->host_->ShowEntry(kUnpackingStatus, progress.name, static_cast<int32_t>(progress.index),
                             ProgressRangeUpperBound(static_cast<int32_t>(progress.total)));
}
