// A host for the engine that shows nothing and records what it was asked
// to show, ask and tell, in order: the status and detail lines as they
// change, every bar drawn, the boxes' texts, the rollbacks run.
#pragma once

#include "engine/install_engine.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class RecordingHost : public InstallHost {
public:
    // Runs the worker on its own thread for engine into installDir, calling
    // whileRunning (when given) on this thread meanwhile. False when it did
    // not end in time.
    bool RunWorker(InstallEngine& engine, const std::wstring& installDir,
                   const std::function<void()>& whileRunning = {});

    void ShowStatus(const wchar_t* text) override;
    void ShowDetail(const wchar_t* text) override;
    void ShowProgress(int32_t position, int32_t upperBound) override;
    bool AskRetry(const wchar_t* text) override;
    void TellError(const wchar_t* text) override;
    void RunOnHostThread(const std::function<void()>& work) override;

    // Held while anything is recorded.
    std::mutex lock;
    std::vector<std::wstring> statusTexts;  // each text the status line changed to
    std::vector<std::wstring> detailTexts;  // the same for the detail line
    std::vector<int> positions;             // bar positions drawn
    std::vector<int> rangeTops;             // bar upper bounds drawn
    std::vector<std::wstring> boxes;        // texts of the boxes shown
    int rollbacks = 0;                      // the work run on the host's thread
    // Called on the worker's thread for every text the detail line changes to.
    std::function<void(const std::wstring&)> onDetail;
    // The answer to the in-use question, given its text; without it, Cancel.
    std::function<bool(const std::wstring&)> retry;

private:
    std::wstring status_;
    std::wstring detail_;
};
