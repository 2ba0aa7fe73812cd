#include "pages/destination_page.h"

#include "config/config.h"
#include "config/default_install_dir.h"
#include "engine/install_engine.h"
#include "system/drives.h"
#include "system/install_log.h"
#include "system/unique_handle.h"
#include "system/windows_version.h"

#include <shlobj.h>

namespace {

constexpr int kTransparent[] = {
    IDC_DEST_TITLE, IDC_DEST_QUESTION_LEAD, IDC_DEST_STATEMENT_LEAD, IDC_DEST_BROWSE_HINT,
    IDC_DEST_SPACE, IDC_DEST_QUESTION_NAME, IDC_DEST_QUESTION_TAIL,
};

constexpr skin::PicturePlace kHeaderPicture = {IDC_DEST_HEADER_PICTURE, IDB_HEADER_PICTURE,
                                               skin::kHeaderPictureWidth, skin::kHeaderPictureHeight};
constexpr skin::PicturePlace kFolderPicture = {IDC_DEST_FOLDER_PICTURE, IDB_FOLDER_PICTURE,
                                               skin::kFolderPictureWidth, skin::kFolderPictureHeight};

constexpr skin::ControlPlace kLayout[] = {
    {IDC_DEST_TITLE, 30, 10, 80, 25},
    {IDC_DEST_QUESTION_LEAD, 45, 30, 40, 25},
    {IDC_DEST_QUESTION_NAME, 95, 30, 60, 25},
    {IDC_DEST_QUESTION_TAIL, 160, 30, 100, 25},
    {IDC_DEST_HEADER_PICTURE, 422, 0, 55, 54},
    {IDC_DEST_TOP_LINE, 0, 55, skin::kClientWidth, 1},
    {IDC_DEST_FOLDER_PICTURE, 40, 70, 25, 32},
    {IDC_DEST_STATEMENT_LEAD, 80, 78, 75, 25},
    {IDC_DEST_STATEMENT_NAME, 165, 78, 60, 25},
    {IDC_DEST_STATEMENT_TAIL, 235, 78, 130, 25},
    {IDC_DEST_BROWSE_HINT, 40, 110, 345, 25},
    {IDC_DEST_CANCEL_HINT, 40, 135, 230, 25},
    {IDC_DEST_QUOTED_NAME, 280, 135, 75, 25},
    {IDC_DEST_FOLDER, 40, 165, 327, 25},
    {IDC_DEST_BROWSE, 380, 165, 80, 25},
    {IDC_DEST_SPACE, 40, 265, 204, 25},
    {IDC_DEST_BOTTOM_LINE, 0, 290, skin::kClientWidth, 1},
    {IDC_DEST_BACK, 210, 295, 75, 25},
    {IDC_DEST_NEXT, 300, 295, 75, 25},
    {IDC_DEST_CANCEL, 390, 295, 75, 25},
};

constexpr const wchar_t* kCaption = L"游戏安装向导";
constexpr const wchar_t* kNewerWindowsNotice = L"您当前系统版本较高 , 最好不要选择安装在系统磁盘目录。";

// The texts were made for fixed buffers of MAX_PATH characters.
std::wstring CutToBuffer(std::wstring text)
{
    if (text.size() > MAX_PATH - 1)
        text.resize(MAX_PATH - 1);
    return text;
}

}  // namespace

std::wstring SpaceRequirementText(int requiredMB)
{
    return CutToBuffer(L"至少需要  " + std::to_wstring(requiredMB) + L" MB 的可用磁盘空间");
}

std::wstring QuotedDisplayName(const std::wstring& name) { return L"\u201C" + name + L"\u201D\u3002"; }

std::wstring LowDiskSpaceMessage(const std::wstring& drive)
{
    return CutToBuffer(L"磁盘" + drive + L"剩余空间不足，请释放磁盘空间或者选择其他磁盘安装！");
}

BrowseOutcome DecideBrowseChoice(const std::wstring& chosen, int requiredMB, const std::wstring& displayName,
                                 const std::function<double(const std::wstring& drive)>& freeMB)
{
    if (chosen.empty())
        return {};
    const std::wstring drive = GetDrivePart(chosen);
    if (freeMB(drive) < static_cast<double>(requiredMB))
        return {BrowseOutcome::Kind::kRefused, LowDiskSpaceMessage(drive)};
    return {BrowseOutcome::Kind::kAccepted, JoinPath(chosen, displayName)};
}

namespace {

// The folder dialog's title and the folder names in its tree are drawn in
// the dialog's font, which on a Western system lacks Chinese.
int CALLBACK OnFolderDialogEvent(HWND dialog, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED)
        *reinterpret_cast<UniqueFont*>(data) = skin::GiveChineseDialogFont(dialog);
    return 0;
}

}  // namespace

std::optional<std::wstring> ChooseFolderWithShell(HWND owner)
{
    wchar_t displayName[MAX_PATH] = {};
    UniqueFont chineseFont;
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pszDisplayName = displayName;
    info.lpszTitle = L"请选择安装目录";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = &OnFolderDialogEvent;
    info.lParam = reinterpret_cast<LPARAM>(&chineseFont);
    UniqueItemIdList chosen(::SHBrowseForFolderW(&info));
    if (!chosen)
        return std::nullopt;
    // A path of its own, not the display-name buffer: a pick without a
    // file-system path must not turn the item's display name into a folder.
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(chosen.get(), path) || path[0] == L'\0')
        return std::nullopt;
    return std::wstring(path);
}

std::span<const CSPDirDialog::Entry> CSPDirDialog::MessageTable()
{
    static constexpr Entry kTable[] = {
        Entry::Command<&CSPDirDialog::OnBack>(IDC_DEST_BACK),
        Entry::Command<&CSPDirDialog::OnNext>(IDC_DEST_NEXT),
        Entry::Command<&CSPDirDialog::OnBrowse>(IDC_DEST_BROWSE),
        Entry::Paint<&CSPDirDialog::OnPaint>(),
        Entry::CtlColor<&CSPDirDialog::OnCtlColor>(),
        Entry::Command<&CSPDirDialog::OnCancelPage>(IDC_DEST_CANCEL),
    };
    return kTable;
}

CSPDirDialog::CSPDirDialog(const Configuration& configuration)
    : WizardPage(IDD_DESTINATION, skin::WhiteArea::kHeaderBand, kTransparent, configuration)
{
}

void CSPDirDialog::DoDataExchange(framework::DataExchange& exchange)
{
    exchange.BindControl(IDC_DEST_FOLDER, folder_);
}

BOOL CSPDirDialog::OnInitDialog()
{
    WizardPage::OnInitDialog();
    FillPageTexts();
    const std::wstring proposed = ComposeDefaultInstallDir(Config());
    folder_.SetText(proposed);
    LogLine(L"folder proposed: " + proposed);
    ApplyDpi(framework::WindowDpi(Window()));
    return TRUE;
}

void CSPDirDialog::LayOut()
{
    skin::ShowPicture(Window(), kHeaderPicture, Dpi(), headerPicture_);
    skin::ShowPicture(Window(), kFolderPicture, Dpi(), folderPicture_);
    skin::LayOutPage(Window(), Dpi(), kLayout);
    skin::GiveBoldFont(Window(), IDC_DEST_TITLE, skin::kTitleFontHeight, Dpi(), titleFont_);
    skin::FlowLine(Window(), Dpi(), {IDC_DEST_QUESTION_LEAD, IDC_DEST_QUESTION_NAME, IDC_DEST_QUESTION_TAIL});
    skin::FlowLine(Window(), Dpi(), {IDC_DEST_STATEMENT_LEAD, IDC_DEST_STATEMENT_NAME, IDC_DEST_STATEMENT_TAIL});
    skin::FlowLine(Window(), Dpi(), {IDC_DEST_CANCEL_HINT, IDC_DEST_QUOTED_NAME});
}

void CSPDirDialog::FillPageTexts()
{
    const std::wstring name = Config().Setting(kKeyDisplayName);
    SetItemText(IDC_DEST_QUESTION_NAME, name);
    SetItemText(IDC_DEST_STATEMENT_NAME, name);
    SetItemText(IDC_DEST_QUOTED_NAME, QuotedDisplayName(name));
    SetItemText(IDC_DEST_SPACE, SpaceRequirementText(RequiredMB()));
    // Only Browse changes the folder: what it yields has been checked for room.
    folder_.Enable(false);
}

std::wstring CSPDirDialog::InstallDir() const { return folder_.Text(); }

void CSPDirDialog::SetPayloadBytes(uint64_t bytes)
{
    payloadBytes_ = bytes;
    if (Window())
        SetItemText(IDC_DEST_SPACE, SpaceRequirementText(RequiredMB()));
}

int CSPDirDialog::RequiredMB() const { return RequiredSpaceMB(Config().SettingInt(kKeySize), payloadBytes_); }

void CSPDirDialog::OnBack() { SendToFrame(WM_WIZARD_PAGE, kWelcomePage); }

void CSPDirDialog::OnNext() { SendToFrame(WM_WIZARD_PAGE, kReadyPage); }

void CSPDirDialog::OnBrowse()
{
    if (IsNewerWindows(GetWindowsVersionName()))
        ::MessageBoxW(Window(), kNewerWindowsNotice, kCaption, MB_OK | MB_ICONINFORMATION);
    const std::wstring chosen = ChooseFolderWithShell(Window()).value_or(L"");
    const BrowseOutcome outcome =
        DecideBrowseChoice(chosen, RequiredMB(), Config().Setting(kKeyDisplayName), &GetDiskFreeMB);
    switch (outcome.kind) {
    case BrowseOutcome::Kind::kUnchanged:
        break;
    case BrowseOutcome::Kind::kRefused:
        LogLine(L"folder refused: " + chosen + L" (told: " + outcome.text + L")");
        ::MessageBoxW(Window(), outcome.text.c_str(), kCaption, MB_OK | MB_ICONERROR);
        break;
    case BrowseOutcome::Kind::kAccepted:
        LogLine(L"folder chosen with Browse: " + outcome.text);
        folder_.SetText(outcome.text);
        break;
    }
}
