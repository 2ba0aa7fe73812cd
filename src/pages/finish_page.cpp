#include "pages/finish_page.h"

#include "config/config.h"
#include "config/run_copy.h"
#include "system/shell_user.h"

namespace {

constexpr int kTransparent[] = {
    IDC_FINISH_TITLE_NAME, IDC_FINISH_SENTENCE_LEAD, IDC_FINISH_INSTRUCTION,   IDC_FINISH_RUN_LABEL,
    IDC_FINISH_TITLE_TAIL, IDC_FINISH_SHORTCUT_HINT, IDC_FINISH_SENTENCE_NAME, IDC_FINISH_RUN_NAME,
};

constexpr skin::PicturePlace kSidePicture = {IDC_FINISH_PICTURE, IDB_SIDE_PICTURE, skin::kSideWidth,
                                             skin::kSideHeight};

// The check box sits where a Chinese system's dialog font would put it,
// just left of its label, whatever the dialog font.
constexpr skin::ControlPlace kLayout[] = {
    {IDC_FINISH_PICTURE, 0, 0, skin::kSideWidth, skin::kSideHeight},
    {IDC_FINISH_RUN_NOW, 181, 148, 15, 16},
    {IDC_FINISH_SENTENCE_NAME, 370, 50, 60, 50},  {IDC_FINISH_SHORTCUT_HINT, 180, 80, 270, 50},
    {IDC_FINISH_RUN_LABEL, 200, 149, 50, 25},     {IDC_FINISH_RUN_NAME, 260, 149, 60, 25},
    {IDC_FINISH_SENTENCE_LEAD, 180, 50, 180, 50}, {IDC_FINISH_LINE, 0, 290, 506, 1},
    {IDC_FINISH_INSTRUCTION, 180, 120, 200, 25},  {IDC_FINISH_DONE, 390, 295, 75, 25},
};

// The cancelled page has no sentence under its title, which sits lower.
constexpr int kCompletedTitleY = 15;
constexpr int kCancelledTitleY = 30;

}  // namespace

std::span<const CSPCompleteDialog::Entry> CSPCompleteDialog::MessageTable()
{
    static constexpr Entry kTable[] = {
        Entry::Command<&CSPCompleteDialog::OnFinish>(IDC_FINISH_DONE),
        Entry::Paint<&CSPCompleteDialog::OnPaint>(),
        Entry::CtlColor<&CSPCompleteDialog::OnCtlColor>(),
    };
    return kTable;
}

CSPCompleteDialog::CSPCompleteDialog(const Configuration& configuration)
    : WizardPage(IDD_FINISH, skin::WhiteArea::kBesidePicture, kTransparent, configuration)
{
}

void CSPCompleteDialog::DoDataExchange(framework::DataExchange& exchange)
{
    exchange.BindControl(IDC_FINISH_RUN_NOW, runNow_);
}

BOOL CSPCompleteDialog::OnInitDialog()
{
    WizardPage::OnInitDialog();
    FillTexts();
    runNow_.SetChecked(true);
    ApplyDpi(framework::WindowDpi(Window()));
    return TRUE;
}

void CSPCompleteDialog::LayOut()
{
    skin::ShowPicture(Window(), kSidePicture, Dpi(), picture_);
    const int titleY = completed_ ? kCompletedTitleY : kCancelledTitleY;
    const skin::ControlPlace titles[] = {
        {IDC_FINISH_TITLE_NAME, 200, titleY, 100, 25},
        {IDC_FINISH_TITLE_TAIL, 270, titleY, 110, 25},
    };
    skin::LayOutPage(Window(), Dpi(), kLayout, titles);
    // Both titles bold or neither: one bold half beside a plain one would
    // look broken.
    UniqueFont title = skin::MakeBoldFont(skin::kLargeTitleFontHeight, Dpi());
    UniqueFont heading = skin::MakeBoldFont(skin::kLargeTitleFontHeight, Dpi());
    if (title && heading) {
        skin::GiveFont(Window(), IDC_FINISH_TITLE_NAME, title);
        skin::GiveFont(Window(), IDC_FINISH_TITLE_TAIL, heading);
        titleFont_ = std::move(title);
        headingFont_ = std::move(heading);
    }
    skin::FlowLine(Window(), Dpi(), {IDC_FINISH_TITLE_NAME, IDC_FINISH_TITLE_TAIL});
    skin::FlowLine(Window(), Dpi(), {IDC_FINISH_SENTENCE_LEAD, IDC_FINISH_SENTENCE_NAME});
    skin::FlowLine(Window(), Dpi(), {IDC_FINISH_RUN_LABEL, IDC_FINISH_RUN_NAME});
}

void CSPCompleteDialog::FillTexts()
{
    if (completed_) {
        const std::wstring name = Config().Setting(kKeyDisplayName);
        ::SetWindowTextW(Window(), Config().Setting(kKeyCaption).c_str());
        SetItemText(IDC_FINISH_TITLE_NAME, name);
        SetItemText(IDC_FINISH_SENTENCE_NAME, name + L"\u3002");
        SetItemText(IDC_FINISH_RUN_NAME, name);
        return;
    }
    // The template's title is a placeholder, another product's name in a
    // branded installer.
    SetItemText(IDC_FINISH_TITLE_NAME, Config().Setting(kKeyDisplayName));
    SetItemText(IDC_FINISH_TITLE_TAIL, L"安装已取消。");
    for (int id : {IDC_FINISH_SENTENCE_LEAD, IDC_FINISH_SENTENCE_NAME, IDC_FINISH_SHORTCUT_HINT, IDC_FINISH_RUN_NAME,
                   IDC_FINISH_RUN_LABEL})
        SetItemText(id, L"");
    ::ShowWindow(::GetDlgItem(Window(), IDC_FINISH_RUN_NOW), SW_HIDE);
}

void CSPCompleteDialog::OnFinish()
{
    if (completed_) {
        const std::wstring address = Config().Setting(kKeyCompleteUrl);
        if (!address.empty())
            OpenAddressForPlayer(address);
        if (runNow_.Checked()) {
            // In its installation folder: games load their files relative
            // to the working folder.
            const std::wstring program = JoinPath(installDir_, Config().Setting(kKeyExe));
            if (!program.empty())
                StartForPlayer(program, installDir_);
        }
    }
    DeleteConfigFile();
    SendToFrame(WM_WIZARD_CLOSE, 0);
}
