#include "pages/installing_page.h"

#include "config/config.h"
#include "engine/install_folder.h"
#include "engine/install_journal.h"

namespace {

constexpr UINT_PTR kWorkerCheckTimer = 1;

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

static_assert(IDC_INSTALLING_STATUS == IDC_INSTALL_STATUS && IDC_INSTALLING_DETAIL == IDC_INSTALL_DETAIL &&
                  IDC_INSTALLING_PROGRESS == IDC_INSTALL_PROGRESS,
              "the engine draws on the page's own controls");

}  // namespace

std::span<const CSPInstallDialog::Entry> CSPInstallDialog::MessageTable()
{
    static constexpr Entry kTable[] = {
        Entry::Timer<&CSPInstallDialog::OnTimer>(),
        Entry::Message<&CSPInstallDialog::OnInstallFailed>(WM_INSTALL_FAILED),
        Entry::Message<&CSPInstallDialog::OnInstallEnded>(WM_INSTALL_ENDED),
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
      engine_(ResourceWindow())
{
}

CSPInstallDialog::~CSPInstallDialog() = default;

void CSPInstallDialog::DoDataExchange(framework::DataExchange& exchange)
{
    exchange.BindControl(IDC_INSTALLING_PROGRESS, progressBar_);
}

BOOL CSPInstallDialog::OnInitDialog()
{
    WizardPage::OnInitDialog();
    if (engine_.Attach(Window())) {
        ::SetWindowTextW(Window(), ReadSetting(kKeyCaption).c_str());
        SetItemText(IDC_INSTALLING_HEADING_NAME, ReadSetting(kKeyDisplayName));
        ApplyDpi(framework::WindowDpi(Window()));
    }
    // Runs from the start; until the worker exists it finds nothing to do.
    timerSet_ = ::SetTimer(Window(), kWorkerCheckTimer, 1000, nullptr) != 0;
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

void CSPInstallDialog::StartInstall(const ResourceWindow& payload, const std::wstring&)
{
    if (started_)
        return;
    started_ = true;
    engine_.UsePayload(payload);
    // Without its timer the page would never move on once the worker ends.
    if (!timerSet_)
        timerSet_ = ::SetTimer(Window(), kWorkerCheckTimer, 1000, nullptr) != 0;
    worker_ = framework::WorkerThread::Start(&InstallEngine::InstallThreadProc, &engine_);
    if (!worker_) {
        // No worker, so nothing was installed and nothing will end: go
        // straight to the page that says the installation did not happen.
        ::KillTimer(Window(), kWorkerCheckTimer);
        SendToFrame(WM_WIZARD_PAGE, kCancelledPage);
        return;
    }
    engine_.SignalStart();
}

void CSPInstallDialog::RecoverInterruptedRun(const std::wstring& installDir)
{
    const std::wstring folder = NormalizeInstallDir(installDir);
    if (!folder.empty())
        RecoverInterruptedInstall(folder);
}

bool CSPInstallDialog::WorkerRunning() const
{
    bool succeeded = false;
    return worker_ && !engine_.WorkerEnded(&succeeded);
}

void CSPInstallDialog::OnTimer(UINT_PTR timerId)
{
    if (timerId != kWorkerCheckTimer || !worker_ || movedOn_)
        return;
    bool succeeded = false;
    if (!engine_.WorkerEnded(&succeeded))
        return;
    // Both the timer and the worker's last post lead here; the wizard moves
    // on once. Nothing is left to cancel.
    movedOn_ = true;
    DisableCancel();
    ::KillTimer(Window(), kWorkerCheckTimer);
    SendToFrame(WM_WIZARD_PAGE, succeeded ? kFinishPage : kCancelledPage);
}

LRESULT CSPInstallDialog::OnInstallFailed(WPARAM stepsDone, LPARAM) { return engine_.OnInstallFailed(stepsDone); }

// The worker's last word: the same check as the timer's, made at once.
LRESULT CSPInstallDialog::OnInstallEnded(WPARAM, LPARAM)
{
    OnTimer(kWorkerCheckTimer);
    return 0;
}

void CSPInstallDialog::AskCancel()
{
    if (asking_)
        return;
    // A click queued just before the worker's end: the page moves on at its
    // next check, and a question now would be answered in vain.
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

// The worker closes the page when it cannot move the new files into place.
// The page stays: the user watches the bar count back while the rollback
// runs, and the finish page then follows as after any failure.
LRESULT CSPInstallDialog::OnClose(WPARAM, LPARAM) { return 0; }
