// The ready page: sums up where the product will go before anything is
// written. Install moves on to the installing page, which starts the work.
#pragma once

#include "framework/controls.h"
#include "pages/resource.h"
#include "pages/skin.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The summary's lines, heading first: the saved folder, or when none was
// saved the system's program-files folder (asked for only then), or only
// the heading when even that is unknown.
std::vector<std::wstring> SummaryLines(const std::wstring& savedFolder,
                                       const std::function<std::optional<std::wstring>()>& programFilesFolder);

class CSPReadDialog : public WizardPage<CSPReadDialog> {
public:
    explicit CSPReadDialog(const Configuration& configuration);
    ~CSPReadDialog() override;
    static std::span<const Entry> MessageTable();

    // Refills the summary for the folder chosen on the destination page;
    // the frame calls it on every switch to this page.
    void RefreshSummary(const std::wstring& installDir);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(framework::DataExchange& exchange) override;
    void LayOut() override;

private:
    void OnBack();
    void OnInstall();

    UniqueFont titleFont_;
    UniqueBitmap headerPicture_;
    framework::ListBox summary_;
};
