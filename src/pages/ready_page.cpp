#include "pages/ready_page.h"

#include "config/config.h"

#include <shlobj.h>

namespace {

constexpr int kTransparent[] = {
    IDC_READY_TITLE, IDC_READY_SENTENCE_LEAD, IDC_READY_INSTRUCTION, IDC_READY_SENTENCE_NAME, IDC_READY_SENTENCE_TAIL,
};

constexpr skin::PicturePlace kHeaderPicture = {IDC_READY_HEADER_PICTURE, IDB_HEADER_PICTURE,
                                               skin::kHeaderPictureWidth, skin::kHeaderPictureHeight};

constexpr skin::ControlPlace kLayout[] = {
    {IDC_READY_TITLE, 30, 10, 80, 25},
    {IDC_READY_SENTENCE_LEAD, 45, 30, 120, 25},
    {IDC_READY_SENTENCE_NAME, 175, 30, 60, 25},
    {IDC_READY_SENTENCE_TAIL, 235, 30, 110, 25},
    {IDC_READY_HEADER_PICTURE, 422, 0, 55, 54},
    {IDC_READY_TOP_LINE, 0, 55, skin::kClientWidth, 1},
    {IDC_READY_INSTRUCTION, 45, 78, 448, 25},
    {IDC_READY_SUMMARY, 45, 110, 417, 160},
    {IDC_READY_BOTTOM_LINE, 0, 290, skin::kClientWidth, 1},
    {IDC_READY_BACK, 210, 295, 75, 25},
    {IDC_READY_INSTALL, 300, 295, 75, 25},
    {IDC_READY_CANCEL, 390, 295, 75, 25},
};

constexpr const wchar_t* kSummaryHeading = L"目标位置:";
constexpr const wchar_t* kFolderIndent = L"        ";

std::optional<std::wstring> ProgramFilesFolder(HWND owner)
{
    wchar_t path[MAX_PATH] = {};
    // Asked to create the folder when it is missing, as the shell offers.
    if (!::SHGetSpecialFolderPathW(owner, path, CSIDL_PROGRAM_FILES, TRUE))
        return std::nullopt;
    return std::wstring(path);
}

}  // namespace

std::vector<std::wstring> SummaryLines(const std::wstring& savedFolder,
                                       const std::function<std::optional<std::wstring>()>& programFilesFolder)
{
    std::vector<std::wstring> lines{kSummaryHeading};
    std::optional<std::wstring> folder = savedFolder;
    if (savedFolder.empty())
        folder = programFilesFolder();
    if (folder)
        lines.push_back(kFolderIndent + *folder);
    return lines;
}

std::span<const CSPReadDialog::Entry> CSPReadDialog::MessageTable()
{
    static constexpr Entry kTable[] = {
        Entry::Command<&CSPReadDialog::OnBack>(IDC_READY_BACK),
        Entry::Command<&CSPReadDialog::OnInstall>(IDC_READY_INSTALL),
        Entry::Paint<&CSPReadDialog::OnPaint>(),
        Entry::CtlColor<&CSPReadDialog::OnCtlColor>(),
        Entry::Command<&CSPReadDialog::OnCancelPage>(IDC_READY_CANCEL),
    };
    return kTable;
}

CSPReadDialog::CSPReadDialog(const Configuration& configuration)
    : WizardPage(IDD_READY, skin::WhiteArea::kHeaderBand, kTransparent, configuration)
{
}

CSPReadDialog::~CSPReadDialog() = default;

void CSPReadDialog::DoDataExchange(framework::DataExchange& exchange)
{
    exchange.BindControl(IDC_READY_SUMMARY, summary_);
}

BOOL CSPReadDialog::OnInitDialog()
{
    WizardPage::OnInitDialog();
    SetItemText(IDC_READY_SENTENCE_NAME, Config().Setting(kKeyDisplayName));
    ApplyDpi(framework::WindowDpi(Window()));
    return TRUE;
}

void CSPReadDialog::LayOut()
{
    skin::ShowPicture(Window(), kHeaderPicture, Dpi(), headerPicture_);
    skin::LayOutPage(Window(), Dpi(), kLayout);
    skin::GiveBoldFont(Window(), IDC_READY_TITLE, skin::kTitleFontHeight, Dpi(), titleFont_);
    skin::FlowLine(Window(), Dpi(), {IDC_READY_SENTENCE_LEAD, IDC_READY_SENTENCE_NAME, IDC_READY_SENTENCE_TAIL});
}

void CSPReadDialog::RefreshSummary(const std::wstring& installDir)
{
    summary_.ResetContent();
    // Shown greyed: it is a statement, not a choice.
    summary_.Enable(false);
    HWND page = Window();
    for (const auto& line : SummaryLines(installDir, [page] { return ProgramFilesFolder(page); }))
        summary_.AddString(line);
}

void CSPReadDialog::OnBack() { SendToFrame(WM_WIZARD_PAGE, kDestinationPage); }

void CSPReadDialog::OnInstall() { SendToFrame(WM_WIZARD_PAGE, kInstallingPage); }
