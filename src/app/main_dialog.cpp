#include "app/main_dialog.h"

#include "app/app_resource.h"
#include "config/run_copy.h"

namespace {

constexpr UINT WM_INTEGRITY_CHECKED = WM_APP + 20;

// A frame made without a check has no payload to install.
const PayloadSource kNoPayload;

}  // namespace

std::span<const CSPMainDialog::Entry> CSPMainDialog::MessageTable()
{
    static constexpr Entry kTable[] = {
        Entry::Message<&CSPMainDialog::OnShowPage>(WM_WIZARD_PAGE),
        Entry::Message<&CSPMainDialog::OnWizardClose>(WM_WIZARD_CLOSE),
        Entry::Message<&CSPMainDialog::OnClose>(WM_CLOSE),
        Entry::Message<&CSPMainDialog::OnIntegrityChecked>(WM_INTEGRITY_CHECKED),
        Entry::Message<&CSPMainDialog::OnDpiChanged>(WM_DPICHANGED),
        Entry::Paint<&CSPMainDialog::OnPaint>(),
    };
    return kTable;
}

CSPMainDialog::CSPMainDialog(IntegrityCheck* integrity)
    : DialogImpl(IDD_FRAME),
      integrity_(integrity),
      configured_(Configuration::FromResource(nullptr, &configuration_)),
      welcome_(configuration_),
      destination_(configuration_),
      installing_(configuration_),
      ready_(configuration_),
      finish_(configuration_),
      cancelled_(configuration_)
{
}

framework::Dialog* CSPMainDialog::Page(int index)
{
    switch (index) {
    case kWelcomePage:
        return &welcome_;
    case kDestinationPage:
        return &destination_;
    case kReadyPage:
        return &ready_;
    case kInstallingPage:
        return &installing_;
    case kFinishPage:
        return &finish_;
    case kCancelledPage:
        return &cancelled_;
    default:
        return nullptr;
    }
}

BOOL CSPMainDialog::OnInitDialog()
{
    DialogImpl::OnInitDialog();
    framework::KeepDialogFromScalingItself(Window());

    // The run's copy of the configuration, for whoever looks at it: the
    // pages read the value. A copy that cannot be written changes nothing
    // the user could act on.
    if (configured_)
        WriteConfigFile(configuration_);

    // Each page lays itself out for the scale it is made at, the frame's.
    for (int index : {kWelcomePage, kInstallingPage, kDestinationPage, kReadyPage, kFinishPage, kCancelledPage}) {
        framework::Dialog* page = Page(index);
        if (::IsWindow(page->Window()))
            continue;
        if (index == kCancelledPage)
            cancelled_.SetCompleted(false);
        // A page that cannot be made stays without a window; the others still
        // make a usable wizard up to it.
        if (page->Create(Window()))
            ::ShowWindow(page->Window(), SW_HIDE);
    }

    dpi_ = framework::WindowDpi(Window());
    ApplyFrameDpi();

    // An earlier installation that a stopped run left moved aside goes back
    // before anything else, even should this run end on its first page.
    installing_.RecoverInterruptedRun(destination_.InstallDir());

    ShowPage(kWelcomePage);
    ::SetWindowTextW(Window(), kWizardTitle);
    CenterOnWorkArea();
    // The wizard shows at once, but takes no input until the check of the
    // payload has passed.
    if (integrity_ && !integrity_->Done())
        ::EnableWindow(Window(), FALSE);
    if (integrity_)
        integrity_->NotifyWhenDone(Window(), WM_INTEGRITY_CHECKED);
    // ShowPage has put the focus on the welcome page's Next button.
    return FALSE;
}

LRESULT CSPMainDialog::OnDpiChanged(WPARAM dpis, LPARAM suggestedRect)
{
    const UINT dpi = HIWORD(dpis);
    if (dpi == 0)
        return 0;
    dpi_ = dpi;
    for (PageScaling* page : {static_cast<PageScaling*>(&welcome_), static_cast<PageScaling*>(&destination_),
                              static_cast<PageScaling*>(&ready_), static_cast<PageScaling*>(&installing_),
                              static_cast<PageScaling*>(&finish_), static_cast<PageScaling*>(&cancelled_)})
        page->ApplyDpi(dpi);
    if (const auto* suggested = reinterpret_cast<const RECT*>(suggestedRect))
        ::SetWindowPos(Window(), nullptr, suggested->left, suggested->top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyFrameDpi();
    ::RedrawWindow(Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return 0;
}

void CSPMainDialog::ApplyFrameDpi()
{
    SizeClientArea(framework::ScaleForDpi(skin::kFrameClientWidth, dpi_),
                   framework::ScaleForDpi(skin::kFrameClientHeight, dpi_));
    RECT client{};
    ::GetClientRect(Window(), &client);
    for (int index = 0; index < kPageCount; ++index) {
        if (HWND page = Page(index)->Window())
            ::MoveWindow(page, client.left, client.top, client.right - client.left, client.bottom - client.top, TRUE);
    }
    // The caption's and the task bar's icons, of the sizes this scale asks for.
    const HINSTANCE module = ::GetModuleHandleW(nullptr);
    UniqueIcon big(static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON,
                                                   framework::SystemMetricForDpi(SM_CXICON, dpi_),
                                                   framework::SystemMetricForDpi(SM_CYICON, dpi_), 0)));
    UniqueIcon small(static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON,
                                                     framework::SystemMetricForDpi(SM_CXSMICON, dpi_),
                                                     framework::SystemMetricForDpi(SM_CYSMICON, dpi_), 0)));
    if (big && small) {
        ::SendMessageW(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
        ::SendMessageW(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
        icon_ = std::move(big);
        smallIcon_ = std::move(small);
    }
}

// The frame's size in dialog units depends on the dialog font, the pages'
// layouts do not: the frame takes the client area they are made for. The
// caption and borders are measured as the window has them; when the scale
// has just changed they may change with the new size, and a second round
// makes up for it.
void CSPMainDialog::SizeClientArea(int width, int height)
{
    for (int round = 0; round < 2; ++round) {
        RECT window{};
        RECT client{};
        if (!::GetWindowRect(Window(), &window) || !::GetClientRect(Window(), &client))
            return;
        if (client.right - client.left == width && client.bottom - client.top == height)
            return;
        const int frameWidth = (window.right - window.left) - (client.right - client.left);
        const int frameHeight = (window.bottom - window.top) - (client.bottom - client.top);
        ::SetWindowPos(Window(), nullptr, 0, 0, width + frameWidth, height + frameHeight,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// The template places the frame at the screen's corner; a wizard belongs in
// the middle of the screen it starts on.
void CSPMainDialog::CenterOnWorkArea()
{
    RECT frame{};
    if (!::GetWindowRect(Window(), &frame))
        return;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!::GetMonitorInfoW(::MonitorFromWindow(Window(), MONITOR_DEFAULTTOPRIMARY), &monitor))
        return;
    const RECT& area = monitor.rcWork;
    const int x = area.left + (area.right - area.left - (frame.right - frame.left)) / 2;
    const int y = area.top + (area.bottom - area.top - (frame.bottom - frame.top)) / 2;
    ::SetWindowPos(Window(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSPMainDialog::ShowPage(int index)
{
    for (int other = 0; other < kPageCount; ++other) {
        if (other != index && Page(other)->Window())
            ::ShowWindow(Page(other)->Window(), SW_HIDE);
    }
    HWND page = Page(index)->Window();
    if (!page)
        return;
    ::ShowWindow(page, SW_SHOW);
    shownPage_ = index;
    // Hiding the page that held the focus hands it to the frame, where a
    // key would reach no page at all: give it to the new page's default
    // button, through the frame so it is restored when the frame is
    // activated again.
    const LRESULT defId = ::SendMessageW(page, DM_GETDEFID, 0, 0);
    HWND target = HIWORD(defId) == DC_HASDEFID ? ::GetDlgItem(page, LOWORD(defId)) : nullptr;
    if (!target || !::IsWindowVisible(target) || !::IsWindowEnabled(target))
        target = ::GetNextDlgTabItem(page, nullptr, FALSE);
    if (target)
        ::SendMessageW(Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

bool CSPMainDialog::MayShow(int index) const
{
    if (index == shownPage_)
        return true;
    switch (shownPage_) {
    case kWelcomePage:
        return index == kDestinationPage;
    case kDestinationPage:
        return index == kWelcomePage || index == kReadyPage;
    case kReadyPage:
        return index == kDestinationPage || index == kInstallingPage;
    case kInstallingPage:
        return index == kFinishPage || index == kCancelledPage;
    default:
        return false;
    }
}

LRESULT CSPMainDialog::OnShowPage(WPARAM index, LPARAM)
{
    if (index >= static_cast<WPARAM>(kPageCount) || damaged_ || !MayShow(static_cast<int>(index)))
        return 0;
    // The check has long finished by the time anyone presses Install; the
    // wait only makes sure of it.
    if (index == kInstallingPage && !ConfirmIntact())
        return 0;
    if (shownPage_ == kDestinationPage && index != kDestinationPage) {
        installDir_ = destination_.InstallDir();
        // The run's copy records the choice too, for whoever looks at it.
        WriteSetting(kKeySetupDir, installDir_);
    }
    ShowPage(static_cast<int>(index));
    if (index == kReadyPage)
        ready_.RefreshSummary(installDir_);
    else if (index == kInstallingPage)
        installing_.StartInstall(integrity_ ? integrity_->Payload() : kNoPayload, installDir_);
    else if (index == kFinishPage)
        finish_.SetInstallDir(installDir_);
    return 0;
}

LRESULT CSPMainDialog::OnWizardClose(WPARAM, LPARAM)
{
    // A page left behind cannot end the wizard under a running install.
    if (installing_.WorkerRunning())
        return 0;
    Dialog::OnOK();
    return 0;
}

bool CSPMainDialog::OnQuitMessage(int) { return !installing_.WorkerRunning(); }

// The close box, Alt+F4 and the system menu. While the worker runs they
// ask what the installing page's Cancel asks: ending the process under a
// running install would leave half a product and a worker drawing on
// destroyed windows.
LRESULT CSPMainDialog::OnClose(WPARAM, LPARAM)
{
    if (installing_.WorkerRunning()) {
        installing_.AskCancel();
        return 0;
    }
    EndModal(IDCANCEL);
    return 0;
}

LRESULT CSPMainDialog::OnIntegrityChecked(WPARAM, LPARAM)
{
    if (!ConfirmIntact())
        return 0;
    if (integrity_)
        destination_.SetPayloadBytes(PayloadUnpackedBytes(integrity_->Payload()));
    if (!::IsWindowEnabled(Window())) {
        ::EnableWindow(Window(), TRUE);
        ShowPage(shownPage_);
    }
    return 0;
}

bool CSPMainDialog::ConfirmIntact()
{
    // Once found damaged, for good: the box below runs a message loop of its
    // own, and nothing that arrives meanwhile may move the wizard on.
    if (damaged_)
        return false;
    if (!integrity_ || integrity_->Passed())
        return true;
    damaged_ = true;
    integrity_->NotifyWhenDone(nullptr, 0);
    const std::wstring missing = integrity_->MissingDataFile();
    ::MessageBoxW(Window(),
                  missing.empty() ? kDamagedInstallerText
                                  : MissingDataFileText(missing, integrity_->DataFolder()).c_str(),
                  kDamagedInstallerCaption, MB_OK | MB_ICONERROR);
    // The frame's set-up wrote the configuration copy; a damaged installer
    // leaves nothing behind.
    DeleteConfigFile();
    EndModal(IDCANCEL);
    return false;
}

void CSPMainDialog::OnPaint(HDC dc)
{
    RECT client{};
    ::GetClientRect(Window(), &client);
    // Seen only while no page covers the client area.
    const RECT white = skin::WhiteAreaRect(client, skin::WhiteArea::kBesidePicture, dpi_);
    ::FillRect(dc, &white, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
}
