// The finish page, in two instances: completed (the product is installed;
// Finish may open the configured address and start the program) and
// cancelled (nothing was installed; Finish only ends the wizard).
#pragma once

#include "framework/controls.h"
#include "pages/resource.h"
#include "pages/skin.h"

#include <string>

// The verb that starts the installed program: "runas" from Windows major
// version 6 on, else the file's default action.
std::wstring RunVerbForMajorVersion(DWORD majorVersion);

// The major version the system reports to this program.
DWORD ReportedMajorVersion();

// Starts program with verb through the shell, showing it, in the working
// folder given (games load their files relative to it); true when the shell
// took it. Nothing is reported.
bool StartProgram(const std::wstring& program, const std::wstring& verb, const std::wstring& workingFolder);

class CSPCompleteDialog : public WizardPage<CSPCompleteDialog> {
public:
    explicit CSPCompleteDialog(const Configuration& configuration);
    static std::span<const Entry> MessageTable();

    bool Completed() const { return completed_; }
    // The frame clears it on the cancelled instance before creating it.
    void SetCompleted(bool completed) { completed_ = completed; }
    // The folder the product went into, where Finish starts it; the frame
    // sets it before showing the page.
    void SetInstallDir(const std::wstring& installDir) { installDir_ = installDir; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(framework::DataExchange& exchange) override;
    void LayOut() override;

private:
    void OnFinish();
    void FillTexts();

    UniqueFont titleFont_;
    UniqueFont headingFont_;
    UniqueBitmap picture_;
    bool completed_ = true;
    std::wstring installDir_;
    framework::CheckBox runNow_;
};
