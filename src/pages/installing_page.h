// The installing page: hosts the install engine, starts its worker when the
// frame shows the page, asks before stopping it, and moves the wizard on to
// a finish page once the worker has ended.
#pragma once

#include "engine/install_engine.h"
#include "framework/controls.h"
#include "framework/worker_thread.h"
#include "pages/resource.h"
#include "pages/skin.h"

#include <memory>

class CSPInstallDialog : public WizardPage<CSPInstallDialog> {
public:
    explicit CSPInstallDialog(const Configuration& configuration);
    ~CSPInstallDialog() override;
    static std::span<const Entry> MessageTable();

    // Starts the install worker on payload, the installer's window of its
    // own payload held since start-up (the engine keeps a duplicate of its
    // handle); the frame calls it right after showing the page. The worker
    // runs once per wizard: later calls do nothing.
    void StartInstall(const ResourceWindow& payload, const std::wstring& installDir);

    // Puts back what a run of this installer that was stopped from outside
    // left for installDir, before the user sees a page: the frame calls it
    // with the folder the wizard proposes. The run does the same for the
    // folder finally chosen.
    static void RecoverInterruptedRun(const std::wstring& installDir);

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
    void DoDataExchange(framework::DataExchange& exchange) override;
    void LayOut() override;

private:
    void OnTimer(UINT_PTR timerId);
    LRESULT OnInstallFailed(WPARAM stepsDone, LPARAM);
    LRESULT OnInstallEnded(WPARAM, LPARAM);
    LRESULT OnClose(WPARAM, LPARAM);
    void DisableCancel();

    UniqueFont titleFont_;
    UniqueBitmap headerPicture_;
    framework::ProgressBar progressBar_;
    std::shared_ptr<framework::WorkerThread> worker_;
    bool started_ = false;
    bool timerSet_ = false;
    // The cancel question is open: a second request (the close box, a
    // posted WM_CLOSE) asks nothing more.
    bool asking_ = false;
    bool movedOn_ = false;
    InstallEngine engine_;
};
