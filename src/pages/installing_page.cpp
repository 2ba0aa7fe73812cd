#include "pages/installing_page.h"

#include "config/config.h"
#include "system/install_folder.h"
#include "system/install_log.h"
#include "engine/install_journal.h"

#include <commctrl.h>

#include <algorithm>

namespace {

// Brings the page back to the newest entry when it came too soon after the last.
constexpr UINT_PTR kEntryTimer = 1;
constexpr UINT WM_SHOW_ENTRY = WM_USER + 1003;
constexpr const wchar_t* kErrorCaption = L"错误提示";

constexpr int kTransparent[] = {
    IDC_INSTALLING_TITLE,  IDC_INSTALLING_HEADING_LEAD, IDC_INSTALLING_STATUS,
    IDC_INSTALLING_DETAIL, IDC_INSTALLING_HEADING_NAME, IDC_INSTALLING_HEADING_TAIL,
};

constexpr skin::PicturePlace kHeaderPicture = {IDC_INSTALLING_HEADER_PICTURE, IDB_HEADER_PICTURE,
                                               skin::kHeaderPictureWidth, skin::kHeaderPictureHeight};

constexpr skin::ControlPlace kLayout[] = {
    {IDC_INSTALLING_TITLE, 30, 10, 80, 25},
    {IDC_INSTALLING_HEADING_LEAD, 45, 30, 110, 25},
    {IDC_INSTALLING_HEADING_NAME, 155, 30, 60, 25},
    {IDC_INSTALLING_HEADING_TAIL, 220, 30, 150, 25},
    {IDC_INSTALLING_HEADER_PICTURE, 422, 0, 55, 54},
    {IDC_INSTALLING_TOP_LINE, 0, 55, skin::kClientWidth, 1},
    {IDC_INSTALLING_STATUS, 45, 78, 448, 25},
    {IDC_INSTALLING_DETAIL, 45, 100, 417, 25},
    {IDC_INSTALLING_PROGRESS, 45, 130, 417, 25},
    {IDC_INSTALLING_BOTTOM_LINE, 0, 290, skin::kClientWidth, 1},
    {IDC_INSTALLING_CANCEL, 390, 295, 75, 25},
};

constexpr const wchar_t* kCancelQuestion =
    L"安装还没有完成。如果您现在关闭安装\n程序，程序将不会安装到您的电脑中。\r\n选择“确定”退出安装。\r\n选择“取消”继续安装 。";
constexpr const wchar_t* kCancelCaption = L"温馨提示";

}  // namespace

void SetProgressBar(HWND bar, int32_t position, int32_t upperBound)
{
    if (upperBound >= 0 && upperBound <= 0xFFFF)
        ::SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, upperBound));
    else
        ::SendMessageW(bar, PBM_SETRANGE32, 0, upperBound);
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int32_t BarPosition(int32_t position, int32_t upperBound, uint64_t bytesDone, uint64_t bytesTotal)
{
    if (upperBound <= 0)
        return 0;
    long double steps = position;
    if (bytesTotal > 0) {
        const int32_t entries = upperBound > kStepsBesideEntries ? upperBound - kStepsBesideEntries : 0;
        steps = static_cast<long double>(entries) * std::min(bytesDone, bytesTotal) / bytesTotal;
    }
    const long double at = steps * kBarRange / upperBound;
    return at <= 0 ? 0 : at >= kBarRange ? kBarRange : static_cast<int32_t>(at);
}

std::span<const CSPInstallDialog::Entry> CSPInstallDialog::MessageTable()
{
    static constexpr Entry kTable[] = {
        Entry::Message<&CSPInstallDialog::OnInstallFailed>(WM_INSTALL_FAILED),
        Entry::Message<&CSPInstallDialog::OnInstallEnded>(WM_INSTALL_ENDED),
        Entry::Message<&CSPInstallDialog::OnShowEntry>(WM_SHOW_ENTRY),
        Entry::Message<&CSPInstallDialog::OnEntryTimer>(WM_TIMER),
        Entry::Command<&CSPInstallDialog::AskCancel>(IDC_INSTALLING_CANCEL),
        Entry::Paint<&CSPInstallDialog::OnPaint>(),
        Entry::CtlColor<&CSPInstallDialog::OnCtlColor>(),
        Entry::Message<&CSPInstallDialog::OnClose>(WM_CLOSE),
    };
    return kTable;
}

// The engine gets its payload when the installation starts.
CSPInstallDialog::CSPInstallDialog(const Configuration& configuration)
    : WizardPage(IDD_INSTALLING, skin::WhiteArea::kHeaderBand, kTransparent, configuration),
      engine_(configuration, PayloadSource())
{
}

CSPInstallDialog::~CSPInstallDialog() = default;

BOOL CSPInstallDialog::OnInitDialog()
{
    WizardPage::OnInitDialog();
    if (engine_.Attach(this)) {
        ::SetWindowTextW(Window(), Config().Setting(kKeyCaption).c_str());
        SetItemText(IDC_INSTALLING_HEADING_NAME, Config().Setting(kKeyDisplayName));
        ApplyDpi(framework::WindowDpi(Window()));
    }
    return TRUE;
}

void CSPInstallDialog::LayOut()
{
    skin::ShowPicture(Window(), kHeaderPicture, Dpi(), headerPicture_);
    skin::LayOutPage(Window(), Dpi(), kLayout);
    skin::GiveBoldFont(Window(), IDC_INSTALLING_TITLE, skin::kTitleFontHeight, Dpi(), titleFont_);
    skin::FlowLine(Window(), Dpi(),
                   {IDC_INSTALLING_HEADING_LEAD, IDC_INSTALLING_HEADING_NAME, IDC_INSTALLING_HEADING_TAIL});
}

void CSPInstallDialog::StartInstall(const PayloadSource& payload, const std::wstring& installDir)
{
    if (started_)
        return;
    started_ = true;
    engine_.UsePayload(payload);
    worker_ = framework::WorkerThread::Start(&InstallEngine::InstallThreadProc, &engine_);
    if (!worker_) {
        // No worker, so nothing was installed and nothing will end: go
        // straight to the page that says the installation did not happen.
        SendToFrame(WM_WIZARD_PAGE, kCancelledPage);
        return;
    }
    LogLine(L"folder chosen: " + installDir);
    engine_.SignalStart(installDir);
}

void CSPInstallDialog::RecoverInterruptedRun(const std::wstring& installDir) const
{
    const std::wstring folder = NormalizeInstallDir(installDir);
    if (!folder.empty())
        RecoverInterruptedInstall(folder, KeptPlaces::Of(Config()));
}

bool CSPInstallDialog::WorkerRunning() const { return worker_ && engine_.WorkerRunning(); }

// ---------------------------------------------------------------------------
// The engine's host

void CSPInstallDialog::SetLine(int controlId, const wchar_t* text)
{
    HWND control = ::GetDlgItem(Window(), controlId);
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
        ::ScreenToClient(Window(), reinterpret_cast<POINT*>(&rect.left));
        ::ScreenToClient(Window(), reinterpret_cast<POINT*>(&rect.right));
        ::RedrawWindow(Window(), &rect, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
}

void CSPInstallDialog::ShowStatus(const wchar_t* text) { SetLine(IDC_INSTALLING_STATUS, text); }

void CSPInstallDialog::ShowDetail(const wchar_t* text) { SetLine(IDC_INSTALLING_DETAIL, text); }

void CSPInstallDialog::ShowProgress(int32_t position, int32_t upperBound)
{
    SetProgressBar(::GetDlgItem(Window(), IDC_INSTALLING_PROGRESS), BarPosition(position, upperBound, 0, 0),
                   kBarRange);
}

// The worker leaves the newest entry and posts one message; the page's
// thread draws whatever is newest when it gets to it.
void CSPInstallDialog::ShowEntry(const wchar_t* status, const wchar_t* name, int32_t position, int32_t upperBound,
                                 uint64_t bytesDone, uint64_t bytesTotal)
{
    if (entries_.Offer({status, name, position, upperBound, bytesDone, bytesTotal}))
        ::PostMessageW(Window(), WM_SHOW_ENTRY, 0, 0);
}

LRESULT CSPInstallDialog::OnEntryTimer(WPARAM timerId, LPARAM)
{
    if (timerId == kEntryTimer) {
        ::KillTimer(Window(), kEntryTimer);
        OnShowEntry(0, 0);
    }
    return 0;
}

// Sent, not posted, and drawn however recent the last drawing: the page
// shows the last entry and its bar before the worker's next text, and a
// message still queued then finds nothing to draw.
void CSPInstallDialog::FlushEntries() { ::SendMessageW(Window(), WM_SHOW_ENTRY, 1, 0); }

LRESULT CSPInstallDialog::OnShowEntry(WPARAM flush, LPARAM)
{
    ShownEntry entry;
    ULONGLONG waitMs = 0;
    if (!entries_.Take(::GetTickCount64(), flush != 0, &entry, &waitMs)) {
        if (waitMs > 0)
            ::SetTimer(Window(), kEntryTimer, static_cast<UINT>(waitMs), nullptr);
        return 0;
    }
    ::KillTimer(Window(), kEntryTimer);
    ShowStatus(entry.status.c_str());
    ShowDetail(entry.name.c_str());
    SetProgressBar(::GetDlgItem(Window(), IDC_INSTALLING_PROGRESS),
                   BarPosition(entry.position, entry.upperBound, entry.bytesDone, entry.bytesTotal), kBarRange);
    return 0;
}

bool CSPInstallDialog::AskRetry(const wchar_t* text)
{
    return ::MessageBoxW(Window(), text, kErrorCaption, MB_RETRYCANCEL | MB_ICONHAND) == IDRETRY;
}

void CSPInstallDialog::TellError(const wchar_t* text) { ::MessageBoxW(Window(), text, kErrorCaption, MB_OK | MB_ICONHAND); }

void CSPInstallDialog::RunOnHostThread(const std::function<void()>& work)
{
    ::SendMessageW(Window(), WM_INSTALL_FAILED, 0, reinterpret_cast<LPARAM>(&work));
}

// The page may be gone by now; a post to no window is simply dropped.
void CSPInstallDialog::Ended(bool succeeded) { ::PostMessageW(Window(), WM_INSTALL_ENDED, succeeded ? 1 : 0, 0); }

LRESULT CSPInstallDialog::OnInstallFailed(WPARAM, LPARAM work)
{
    if (work)
        (*reinterpret_cast<const std::function<void()>*>(work))();
    return 0;
}

// The worker's last word, posted once it has ended: the wizard moves on as
// soon as the page's thread gets to it, also from under the cancel
// question's box, whose own loop delivers it.
LRESULT CSPInstallDialog::OnInstallEnded(WPARAM succeeded, LPARAM)
{
    if (!worker_ || movedOn_)
        return 0;
    // The wizard moves on once. Nothing is left to cancel.
    movedOn_ = true;
    DisableCancel();
    SendToFrame(WM_WIZARD_PAGE, succeeded ? kFinishPage : kCancelledPage);
    return 0;
}

void CSPInstallDialog::AskCancel()
{
    if (asking_)
        return;
    // A click queued just before the worker's end: the page moves on once
    // the worker's last post arrives, and a question now would be answered
    // in vain.
    if (!WorkerRunning()) {
        DisableCancel();
        return;
    }
    asking_ = true;
    const ScopeExit closed([this] { asking_ = false; });
    engine_.PauseWorker();
    const int answer = ::MessageBoxW(Window(), kCancelQuestion, kCancelCaption, MB_OKCANCEL | MB_ICONINFORMATION);
    // A quit posted by another program ends the box as if answered and is
    // queued again for the wizard's own loop: that is no answer of the
    // user's, and the installation goes on.
    MSG quit;
    const bool endedByQuit = ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
    if (answer == IDOK && !endedByQuit) {
        // The stop comes before the resume, so the worker meets it at the
        // very place it was held.
        engine_.StopExtraction();
        // Asking a second time would only confuse: the answer is given.
        DisableCancel();
    }
    engine_.ResumeWorker();
}

void CSPInstallDialog::DisableCancel() { ::EnableWindow(::GetDlgItem(Window(), IDC_INSTALLING_CANCEL), FALSE); }

// A close sent to the page itself (by another program: the frame's close box
// goes to the frame) would become the dialog's cancel and hide the page
// while the worker runs. The page stays until the worker has ended.
LRESULT CSPInstallDialog::OnClose(WPARAM, LPARAM) { return 0; }
