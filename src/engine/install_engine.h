// The worker that carries an installation out on a thread of its own: its
// thread procedure, the start it waits for, the pause the cancel question
// holds it in, the stop, and its outcome for the host. The installation
// itself is the run's (install_run.h).
//
// Its host (the installing page, or the silent installation) attaches
// itself and starts InstallThreadProc on a thread of its own; the worker
// shows its steps, asks and tells only through the host, and tells the
// host when it has ended.
#pragma once

#include "engine/install_host.h"
#include "engine/install_run.h"
#include "system/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

class InstallEngine {
public:
    // The engine of a run made from the same arguments (InstallRun's).
    template <typename... RunArguments>
    explicit InstallEngine(RunArguments&&... arguments) : run_(std::forward<RunArguments>(arguments)...)
    {
        run_.PauseWith([this] { WaitWhilePaused(); });
    }
    InstallEngine(const InstallEngine&) = delete;
    InstallEngine& operator=(const InstallEngine&) = delete;

    // Before SignalStart. The wizard's engine exists from the start and gets
    // the payload once the start-up check has vouched for it.
    void UsePayload(const PayloadSource& payload) { run_.UsePayload(payload); }

    // Attaches the run to host, which must outlive the worker; the host goes
    // on with its own set-up only when it returns true. Without a host
    // nothing is shown and every question is answered no (the silent
    // installation).
    bool Attach(InstallHost* host);

    InstallRun& Run() { return run_; }

    // The worker's thread procedure; its parameter is the engine. It waits
    // for SignalStart before doing anything, and its last acts are to mark
    // itself ended and tell the host. Returns 0.
    static unsigned __stdcall InstallThreadProc(void* engine);
    // Lets the worker begin installing into installDir, the folder the user
    // chose; the host calls it right after starting the thread.
    void SignalStart(const std::wstring& installDir);

    // False while the worker runs; once it has ended, true with *succeeded
    // set to its outcome.
    bool WorkerEnded(bool* succeeded) const;
    bool WorkerRunning() const { return running_.load(); }

    // The cancel question holds the worker still while it is open: the worker
    // waits before its next archive entry or step until ResumeWorker. Both
    // are for the host's thread and never block.
    void PauseWorker();
    void ResumeWorker();
    // The user confirmed cancel (InstallRun::Stop).
    void StopExtraction() { run_.Stop(); }

    InstallFailure Failure() const { return run_.Failure(); }

private:
    void WaitWhilePaused() const;

    InstallRun run_;
    InstallHost* host_ = nullptr;
    std::wstring chosenDir_;
    UniqueHandle startEvent_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle notPaused_{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    std::atomic<bool> paused_{false};
    std::atomic<bool> running_{true};
    std::atomic<bool> succeeded_{true};
};
