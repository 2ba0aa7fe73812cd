// The finish page, in two instances: completed (the product is installed;
// Finish may open the configured address and start the program) and
// cancelled (nothing was installed; Finish only ends the wizard).
//
// Both the program and the address are the player's (system/shell_user.h):
// started with the token of the shell on this desktop, never from setup's
// elevated token, and so never with an administrator's rights. A program
// that needs them asks through its own manifest; the player's ShellExecute
// then asks the player. Without a shell (no player to be had) Finish starts
// and opens nothing and the wizard ends as it always does: the product is
// installed, and the player starts it from its shortcut.
#pragma once

#include "framework/controls.h"
#include "pages/resource.h"
#include "pages/skin.h"

#include <string>

class CSPCompleteDialog : public WizardPage<CSPCompleteDialog> {
public:
    explicit CSPCompleteDialog(const Configuration& configuration);
    static std::span<const Entry> MessageTable();

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
