// The destination page: proposes the installation folder and lets the user
// pick another through the shell's folder dialog when its drive has room.
// The edit box is the page's only store of the folder; the frame takes it
// from there whenever the page is left by Back or Next.
#pragma once

#include "framework/controls.h"
#include "pages/resource.h"
#include "pages/skin.h"

#include <functional>
#include <optional>
#include <string>

// "至少需要  %d MB 的可用磁盘空间" for requiredMB.
std::wstring SpaceRequirementText(int requiredMB);

// The display name in Chinese quotation marks with a full stop: “name”。
std::wstring QuotedDisplayName(const std::wstring& name);

// The refusal for a drive without room; drive is a drive part such as D:.
std::wstring LowDiskSpaceMessage(const std::wstring& drive);

// What a folder chosen in the folder dialog does to the page.
struct BrowseOutcome {
    enum class Kind { kUnchanged, kRefused, kAccepted };
    Kind kind = Kind::kUnchanged;
    // kRefused: the message to show; kAccepted: the new installation folder.
    std::wstring text;
};

// chosen is the folder dialog's path, empty when it was cancelled. A choice
// is refused when its drive has less than requiredMB free (exactly the
// requirement is enough); an accepted one becomes chosen\displayName.
BrowseOutcome DecideBrowseChoice(const std::wstring& chosen, int requiredMB, const std::wstring& displayName,
                                 const std::function<double(const std::wstring& drive)>& freeMB);

// The shell's folder dialog: the chosen folder's file-system path, or
// nothing when the user cancelled or picked something without one.
std::optional<std::wstring> ChooseFolderWithShell(HWND owner);

class CSPDirDialog : public WizardPage<CSPDirDialog> {
public:
    explicit CSPDirDialog(const Configuration& configuration);
    static std::span<const Entry> MessageTable();

    // The folder the page shows.
    std::wstring InstallDir() const;
    // The payload's unpacked size, once the check of the installer has
    // vouched for it: the room required is the larger of it and the
    // configuration's.
    void SetPayloadBytes(uint64_t bytes);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(framework::DataExchange& exchange) override;
    void LayOut() override;

private:
    void FillPageTexts();
    void OnBack();
    void OnNext();
    void OnBrowse();

    UniqueFont titleFont_;
    UniqueBitmap headerPicture_;
    UniqueBitmap folderPicture_;
    int RequiredMB() const;

    framework::Control folder_;
    uint64_t payloadBytes_ = 0;
};
