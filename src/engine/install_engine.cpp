#include "engine/install_engine.h"

#include "config/config.h"
#include "config/uninstall_entry.h"
#include "system/file_ops.h"
#include "system/folder_handles.h"
#include "system/shortcuts.h"
#include "system/trace.h"
#include "system/uninstall.h"

#include <commctrl.h>

namespace {

void IgnorePackageLog(void*, const char*) {}

constexpr int kPayloadResourceId = 148;
constexpr const wchar_t* kPayloadResourceType = L"DATA";
constexpr const wchar_t* kPayloadCopyName = L"temp.7z";

constexpr UINT kRefreshMessage = WM_APP + 1;
constexpr const wchar_t* kRefreshClass = L"SetupInstallRefresh";

InstallServices& RealServices()
{
    static InstallServices services;
    return services;
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
                             int32_t* current)
{
    return package.Decode(payload.file.get(), payload.offset, payload.size, folder, current);
}

int InstallServices::DeletePath(const wchar_t* path) { return ::DeletePath(path); }

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

bool InstallServices::CreateProgramGroup(HWND owner, const wchar_t* group)
{
    return ::CreateProgramGroup(owner, group);
}

bool InstallServices::CreateGroupShortcut(HWND owner, const wchar_t* target, const wchar_t* group,
                                          const wchar_t* name, const wchar_t* arguments)
{
    return ::CreateGroupShortcut(owner, target, group, name, arguments);
}

bool InstallServices::RegisterUninstall()
{
    Configuration configuration;
    Configuration::FromResource(nullptr, &configuration);
    return ::RegisterUninstall(configuration, ReadSetting(kKeySetupDir));
}

int InstallServices::ShowError(HWND owner, const wchar_t* text, const wchar_t* caption, UINT buttons)
{
    return ::MessageBoxW(owner, text, caption, buttons | MB_ICONHAND);
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

InstallEngine::InstallEngine(const ResourceWindow& payload, InstallServices* services)
    : services_(services ? services : &RealServices())
{
    UsePayload(payload);
}

InstallEngine::InstallEngine(HMODULE payloadModule, InstallServices* services)
    : services_(services ? services : &RealServices())
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

InstallEngine::~InstallEngine()
{
    if (refreshWindow_)
        ::DestroyWindow(refreshWindow_);
}

bool InstallEngine::Attach(HWND page)
{
    page_ = page;
    package_.SetGate(WaitAtGate);
    if (!refreshWindow_) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = RefreshProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kRefreshClass;
        ::RegisterClassW(&wc);
        // Without it every report is drawn at once, as the worker makes it.
        refreshWindow_ = ::CreateWindowExW(0, kRefreshClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                           wc.hInstance, nullptr);
        if (refreshWindow_)
            ::SetWindowLongPtrW(refreshWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    return package_.SetCallbacks(this, OnExtractProgress, IgnorePackageLog);
}

LRESULT CALLBACK InstallEngine::RefreshProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRefreshMessage) {
        if (auto* engine = reinterpret_cast<InstallEngine*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
            try {
                engine->ApplyExtractProgress();
            } catch (...) {
                // Nothing unwinds into the system's message dispatch.
            }
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void InstallEngine::SignalStart() { ::SetEvent(startEvent_.get()); }

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
        if (ok)
            InstallTrace(L"安装线程退出\r\n");
        else
            ::SendMessageW(engine->page_, WM_INSTALL_FAILED, static_cast<WPARAM>(stepsDone), 0);
    }
    // The page may be gone by now; a post to no window is simply dropped.
    HWND page = engine->page_;
    engine->progress_.workerRunning.Set(0);
    ::PostMessageW(page, WM_INSTALL_ENDED, 0, 0);
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
// Drawing on the page

void InstallEngine::SetPageText(int controlId, const wchar_t* text)
{
    HWND control = ::GetDlgItem(page_, controlId);
    if (!control)
        return;
    wchar_t current[260] = {};
    ::GetWindowTextW(control, current, static_cast<int>(std::size(current)));
    const wchar_t* shown = text ? text : L"";
    if (::lstrcmpW(shown, current) == 0)
        return;
    ::SetWindowTextW(control, shown);
    // The page paints its own background under the text, and the text
    // again, at once: a transparent static draws a new text over the old
    // one, and a later paint would come only after the next texts had.
    RECT rect;
    if (::GetWindowRect(control, &rect)) {
        ::ScreenToClient(page_, reinterpret_cast<POINT*>(&rect.left));
        ::ScreenToClient(page_, reinterpret_cast<POINT*>(&rect.right));
        ::RedrawWindow(page_, &rect, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
}

void InstallEngine::RefreshProgressBar()
{
    HWND bar = ::GetDlgItem(page_, IDC_INSTALL_PROGRESS);
    const int32_t top = ProgressRangeUpperBound(progress_.progressTotal.Get());
    // The 16-bit message while the range fits it; a payload of 65,530
    // entries or more needs the 32-bit one, or the bar would wrap.
    if (top >= 0 && top <= 0xFFFF)
        ::SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, top));
    else
        ::SendMessageW(bar, PBM_SETRANGE32, 0, top);
    const int32_t position = progress_.progressPosition.Get();
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void InstallEngine::ShowStep(const wchar_t* status, const wchar_t* detail)
{
    SetPageText(IDC_INSTALL_STATUS, status);
    SetPageText(IDC_INSTALL_DETAIL, detail);
    RefreshProgressBar();
}

int32_t InstallEngine::AdvanceProgress() { return progress_.progressPosition.Increment(); }

void InstallEngine::OnExtractProgress(void* context, ExtractProgress progress)
{
    auto* engine = static_cast<InstallEngine*>(context);
    engine->progress_.progressTotal.Set(static_cast<int32_t>(progress.total));
    engine->progress_.progressPosition.Set(static_cast<int32_t>(progress.index));
    progress.name[std::size(progress.name) - 1] = L'\0';
    const wchar_t* name = progress.name;
    if (!engine->refreshWindow_) {
        engine->SetPageText(IDC_INSTALL_STATUS, L"正在解压文件");
        engine->SetPageText(IDC_INSTALL_DETAIL, name);
        engine->RefreshProgressBar();
        return;
    }
    bool post = false;
    {
        std::lock_guard<std::mutex> hold(engine->extractMutex_);
        engine->extractName_ = name;
        engine->extractPending_ = true;
        post = !engine->refreshPosted_;
        engine->refreshPosted_ = true;
    }
    if (post)
        ::PostMessageW(engine->refreshWindow_, kRefreshMessage, 0, 0);
}

void InstallEngine::ApplyExtractProgress()
{
    std::wstring name;
    {
        std::lock_guard<std::mutex> hold(extractMutex_);
        refreshPosted_ = false;
        if (!extractPending_)
            return;
        extractPending_ = false;
        name.swap(extractName_);
    }
    SetPageText(IDC_INSTALL_STATUS, L"正在解压文件");
    SetPageText(IDC_INSTALL_DETAIL, name.c_str());
    RefreshProgressBar();
}

void InstallEngine::FlushExtractProgress()
{
    // Sent, not posted: the page draws the last report before the worker's
    // next text, and a refresh still queued then finds nothing to draw.
    if (refreshWindow_)
        ::SendMessageW(refreshWindow_, kRefreshMessage, 0, 0);
}
