// The installing page: hosts the install engine, starts its worker when the
// frame shows the page, asks before stopping it, and moves the wizard on to
// a finish page once the worker has ended.
#pragma once

#include "engine/install_engine.h"
#include "framework/controls.h"
#include "framework/worker_thread.h"
#include "pages/entry_pacer.h"
#include "pages/resource.h"
#include "pages/skin.h"

#include <memory>
#include <string>

// Sent by the worker's rollback request: lParam the work to run on the
// page's thread.
inline constexpr UINT WM_INSTALL_FAILED = WM_USER + 1001;
// Posted to the page by the worker as its last act, once it has ended:
// wParam its outcome, what moves the wizard on to a finish page.
inline constexpr UINT WM_INSTALL_ENDED = WM_USER + 1002;

// Sets bar's range to 0..upperBound and its position, with the 16-bit
// message while the range fits it and the 32-bit one beyond, so that a
// payload of 65,530 entries or more does not wrap the bar.
void SetProgressBar(HWND bar, int32_t position, int32_t upperBound);

// The installing bar's range, and where it stands in it: at position of
// upperBound steps (ProgressRangeUpperBound's), except while the payload
// is unpacked (bytesTotal not 0), when the entries' share of the steps
// moves by the payload's bytes, so that one big file moves it as it is
// written. 64-bit counts: any payload size.
inline constexpr int32_t kBarRange = 1 << 20;
int32_t BarPosition(int32_t position, int32_t upperBound, uint64_t bytesDone, uint64_t bytesTotal);

class CSPInstallDialog : public WizardPage<CSPInstallDialog>, private InstallHost {
public:
    explicit CSPInstallDialog(const Configuration& configuration);
    ~CSPInstallDialog() override;
    static std::span<const Entry> MessageTable();

    // Starts the install worker on payload, the installer's own payload as
    // held since start-up (the engine keeps duplicates of its handles), into installDir, the folder the user chose; the frame calls
    // it right after showing the page. The worker runs once per wizard:
    // later calls do nothing.
    void StartInstall(const PayloadSource& payload, const std::wstring& installDir);

    // Puts back what a run of this installer that was stopped from outside
    // left for installDir, before the user sees a page: the frame calls it
    // with the folder the wizard proposes. The run does the same for the
    // folder finally chosen.
    void RecoverInterruptedRun(const std::wstring& installDir) const;

    // True from StartInstall until the worker has finished everything, its
    // rollback included.
    bool WorkerRunning() const;

    // The cancel question: while it is open the worker holds still before
    // its next step; OK stops the extraction, after which the worker fails
    // and rolls back, and the wizard ends on the cancelled finish page.
    // Once the worker has ended it asks nothing and Cancel is disabled.
    void AskCancel();

protected:
    BOOL OnInitDialog() override;
    void LayOut() override;

private:
    // What the engine shows, asks and tells, on the page.
    void ShowStatus(const wchar_t* text) override;
    void ShowDetail(const wchar_t* text) override;
    void ShowProgress(int32_t position, int32_t upperBound) override;
    void ShowEntry(const wchar_t* status, const wchar_t* name, int32_t position, int32_t upperBound,
                   uint64_t bytesDone, uint64_t bytesTotal) override;
    void FlushEntries() override;
    bool AskRetry(const wchar_t* text) override;
    void TellError(const wchar_t* text) override;
    void RunOnHostThread(const std::function<void()>& work) override;
    void Ended(bool succeeded) override;

    void SetLine(int controlId, const wchar_t* text);
    LRESULT OnInstallFailed(WPARAM, LPARAM work);
    LRESULT OnInstallEnded(WPARAM succeeded, LPARAM);
    LRESULT OnShowEntry(WPARAM, LPARAM);
    LRESULT OnEntryTimer(WPARAM timerId, LPARAM);
    LRESULT OnClose(WPARAM, LPARAM);
    void DisableCancel();

    UniqueFont titleFont_;
    UniqueBitmap headerPicture_;
    std::shared_ptr<framework::WorkerThread> worker_;
    bool started_ = false;
    // The cancel question is open: a second request (the close box, a
    // posted WM_CLOSE) asks nothing more.
    bool asking_ = false;
    bool movedOn_ = false;
    // The newest entry the extraction began, drawn when the page's thread
    // gets to it, about 30 times a second at most: the extraction reports
    // far faster than a page can be redrawn under a window system that is
    // another process.
    EntryPacer entries_{33};
    InstallEngine engine_;
};
