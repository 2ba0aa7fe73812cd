// The start-up check of what the installer carries against the digest
// make-installer recorded, run on a thread of its own from the start so the
// wizard opens at once, and waited for before anything can be installed.
#pragma once

#include "framework/worker_thread.h"
#include "package/payload_digest.h"

#include <windows.h>

#include <memory>
#include <mutex>

// What the user reads when the check fails.
inline constexpr const wchar_t* kDamagedInstallerText =
    L"安装程序已损坏，无法继续安装。\r\n请重新下载安装程序后再运行。";
inline constexpr const wchar_t* kDamagedInstallerCaption = L"错误提示";

class IntegrityCheck {
public:
    IntegrityCheck() = default;
    ~IntegrityCheck();
    IntegrityCheck(const IntegrityCheck&) = delete;
    IntegrityCheck& operator=(const IntegrityCheck&) = delete;

    // Starts the check on a new thread; when no thread can be had, checks
    // here and now.
    void Start();
    // Posts message to window once the result is known (at once when it
    // already is). One window at a time; null stops the notices.
    void NotifyWhenDone(HWND window, UINT message);
    // True once the result is known.
    bool Done() const;
    // The result, waiting for it when needed. A damaged installer is
    // Mismatch; an image without a recorded digest passes.
    bool Passed();

private:
    static unsigned __stdcall CheckProc(void* self);
    void Finish(DigestCheck result);

    std::shared_ptr<framework::WorkerThread> thread_;
    mutable std::mutex mutex_;
    bool done_ = false;
    DigestCheck result_ = DigestCheck::Absent;
    HWND window_ = nullptr;
    UINT message_ = 0;
};
