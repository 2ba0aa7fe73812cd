// The wizard's frame: a window of fixed size at each display scale that owns
// the six pages, shows one at a time and switches when a page asks it to.
// It owns what the pages share: the configuration, read from the installer's
// resource once as the frame is made, and the folder chosen on the
// destination page.
#pragma once

#include "app/integrity_check.h"
#include "config/config.h"
#include "framework/dialog.h"
#include "framework/display_scale.h"
#include "pages/destination_page.h"
#include "pages/finish_page.h"
#include "pages/installing_page.h"
#include "pages/ready_page.h"
#include "pages/welcome_page.h"

class CSPMainDialog : public framework::DialogImpl<CSPMainDialog> {
public:
    // integrity, when given, is the running check of what the installer
    // carries: the frame stays disabled until it passes, and ends with the
    // damaged-installer box when it fails. The installation reads the
    // payload the check vouched for; without a check there is none.
    explicit CSPMainDialog(IntegrityCheck* integrity = nullptr);
    static std::span<const Entry> MessageTable();

protected:
    BOOL OnInitDialog() override;
    // Enter and Escape that reach the frame itself (no page control has the
    // focus) would otherwise end the wizard: only the pages end it.
    void OnOK() override {}
    void OnCancel() override {}
    // A quit posted from outside while the worker runs would destroy the
    // installing page, and the engine, under it: it is dropped then.
    bool OnQuitMessage(int exitCode) override;

private:
    // The page a WizardPageIndex names; null outside 0 to 5.
    framework::Dialog* Page(int index);
    LRESULT OnShowPage(WPARAM index, LPARAM);
    LRESULT OnWizardClose(WPARAM, LPARAM);
    LRESULT OnClose(WPARAM, LPARAM);
    LRESULT OnIntegrityChecked(WPARAM, LPARAM);
    // False, after telling the user and ending the wizard, when the
    // installer is damaged.
    bool ConfirmIntact();
    void OnPaint(HDC dc);
    void ShowPage(int index);
    // Whether the wizard may go from the shown page to index: a click that
    // reaches a page after it was left (a second click on Next or Install)
    // must not take the wizard back or past the installation.
    bool MayShow(int index) const;
    void CenterOnWorkArea();
    void SizeClientArea(int width, int height);
    // The monitor under the frame has another scale (the frame was moved, or
    // the display's scale changed): everything is laid out again for it,
    // and the frame takes the place the system suggests.
    LRESULT OnDpiChanged(WPARAM dpis, LPARAM suggestedRect);
    // The frame's client area, filled by the pages, and its icons, for dpi_.
    void ApplyFrameDpi();

    IntegrityCheck* integrity_;
    // Before the pages, which keep a reference to it.
    Configuration configuration_;
    bool configured_ = false;
    // Taken from the destination page each time it is left.
    std::wstring installDir_;
    UINT dpi_ = framework::kDefaultDpi;
    UniqueIcon icon_;
    UniqueIcon smallIcon_;
    CSPWelcomeDialog welcome_;
    CSPDirDialog destination_;
    CSPInstallDialog installing_;
    CSPReadDialog ready_;
    CSPCompleteDialog finish_;
    CSPCompleteDialog cancelled_;
    int shownPage_ = -1;
    bool damaged_ = false;
};
