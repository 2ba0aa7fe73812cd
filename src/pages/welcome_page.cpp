#include "pages/welcome_page.h"

#include "config/config.h"

namespace {

constexpr int kTransparent[] = {
    IDC_WELCOME_TITLE_LEAD,     IDC_WELCOME_SENTENCE_LEAD, IDC_WELCOME_ADVICE,       IDC_WELCOME_INSTRUCTION,
    IDC_WELCOME_TITLE_NAME,     IDC_WELCOME_TITLE_TAIL,    IDC_WELCOME_SENTENCE_TAIL, IDC_WELCOME_SENTENCE_NAME,
    IDC_WELCOME_NOTICE,
};

constexpr skin::PicturePlace kSidePicture = {IDC_WELCOME_PICTURE, IDB_SIDE_PICTURE, skin::kSideWidth,
                                             skin::kSideHeight};

constexpr skin::ControlPlace kLayout[] = {
    {IDC_WELCOME_PICTURE, 0, 0, skin::kSideWidth, skin::kSideHeight},
    {IDC_WELCOME_LINE, 0, 290, 506, 1},
    {IDC_WELCOME_TITLE_LEAD, 180, 15, 75, 25},
    {IDC_WELCOME_TITLE_NAME, 255, 15, 75, 25},
    {IDC_WELCOME_TITLE_TAIL, 330, 15, 75, 25},
    {IDC_WELCOME_SENTENCE_LEAD, 180, 50, 60, 25},
    {IDC_WELCOME_SENTENCE_NAME, 250, 50, 50, 25},
    {IDC_WELCOME_SENTENCE_TAIL, 310, 50, 100, 25},
    {IDC_WELCOME_ADVICE, 180, 75, 320, 25},
    {IDC_WELCOME_INSTRUCTION, 180, 100, 320, 25},
    {IDC_WELCOME_NOTICE, 180, 125, 300, 25},
    {IDC_WELCOME_NEXT, 300, 295, 75, 25},
    {IDC_WELCOME_CANCEL, 390, 295, 75, 25},
};

}  // namespace

std::span<const CSPWelcomeDialog::Entry> CSPWelcomeDialog::MessageTable()
{
    static constexpr Entry kTable[] = {
        Entry::Command<&CSPWelcomeDialog::OnNext>(IDC_WELCOME_NEXT),
        Entry::Command<&CSPWelcomeDialog::OnCancelPage>(IDC_WELCOME_CANCEL),
        Entry::Paint<&CSPWelcomeDialog::OnPaint>(),
        Entry::CtlColor<&CSPWelcomeDialog::OnCtlColor>(),
    };
    return kTable;
}

CSPWelcomeDialog::CSPWelcomeDialog(const Configuration& configuration)
    : WizardPage(IDD_WELCOME, skin::WhiteArea::kBesidePicture, kTransparent, configuration)
{
}

BOOL CSPWelcomeDialog::OnInitDialog()
{
    WizardPage::OnInitDialog();
    const std::wstring name = Config().Setting(kKeyDisplayName);
    SetItemText(IDC_WELCOME_TITLE_NAME, name);
    SetItemText(IDC_WELCOME_SENTENCE_NAME, name);
    ApplyDpi(framework::WindowDpi(Window()));
    return TRUE;
}

void CSPWelcomeDialog::LayOut()
{
    skin::ShowPicture(Window(), kSidePicture, Dpi(), picture_);
    skin::LayOutPage(Window(), Dpi(), kLayout);
    skin::GiveBoldFont(Window(), IDC_WELCOME_TITLE_LEAD, skin::kLargeTitleFontHeight, Dpi(), titleLeadFont_);
    skin::GiveBoldFont(Window(), IDC_WELCOME_TITLE_NAME, skin::kLargeTitleFontHeight, Dpi(), titleNameFont_);
    skin::GiveBoldFont(Window(), IDC_WELCOME_TITLE_TAIL, skin::kLargeTitleFontHeight, Dpi(), titleTailFont_);
    skin::FlowLine(Window(), Dpi(), {IDC_WELCOME_TITLE_LEAD, IDC_WELCOME_TITLE_NAME, IDC_WELCOME_TITLE_TAIL});
    skin::FlowLine(Window(), Dpi(), {IDC_WELCOME_SENTENCE_LEAD, IDC_WELCOME_SENTENCE_NAME, IDC_WELCOME_SENTENCE_TAIL});
}

void CSPWelcomeDialog::OnNext() { SendToFrame(WM_WIZARD_PAGE, kDestinationPage); }
