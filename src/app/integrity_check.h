// The start-up check of what the installer carries against the digest
// make-installer recorded, run on a thread of its own from the start so the
// wizard opens at once, and waited for before anything can be installed.
// It holds the payload's source (its window in the image and its data files,
// when it has them), opened before it starts, and hands it to the
// installation once it has vouched for it.
#pragma once

#include "framework/worker_thread.h"
#include "package/payload_digest.h"
#include "system/file_ops.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

// What the user reads when the check fails.
inline constexpr const wchar_t* kDamagedInstallerText =
    L"安装程序已损坏，无法继续安装。\r\n请重新下载安装程序后再运行。";
inline constexpr const wchar_t* kDamagedInstallerCaption = L"错误提示";

// What the user reads when a data file is not beside the installer: its
// name and the folder it must be put in (the damaged box's caption).
std::wstring MissingDataFileText(const std::wstring& name, const std::wstring& folder);

class IntegrityCheck {
public:
    // payload: resource "DATA" 148 of the running program and its data
    // files as the installer opened them at start (empty when it could
    // not); the check reads the payload through it and nothing else.
    explicit IntegrityCheck(PayloadSource payload) : payload_(std::move(payload)) {}
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
    // Mismatch, as is a data file of another size than its table's, or one
    // that is not a plain file; a missing data file fails too
    // (MissingDataFile); an image without a recorded digest passes.
    bool Passed();
    // Once the check is done: the data file that is not beside the
    // installer (the first, when several are not), empty when none is
    // missing, and the folder it must be put in.
    std::wstring MissingDataFile();
    const std::wstring& DataFolder() const { return payload_.folder; }
    // The payload for the installation, waiting for the check: the window
    // opened at start when the digest vouched for it or, in an image without
    // a digest, when it holds the loaded resource byte for byte; else an
    // empty source, with which the run fails at its payload step.
    const PayloadSource& Payload();

private:
    static unsigned __stdcall CheckProc(void* self);
    void Finish(DigestCheck result, bool payloadVouched, std::wstring missing);
    // The check itself, on whichever thread runs it.
    void Check();

    const PayloadSource payload_;
    const PayloadSource none_;
    std::shared_ptr<framework::WorkerThread> thread_;
    mutable std::mutex mutex_;
    bool done_ = false;
    DigestCheck result_ = DigestCheck::Absent;
    bool payloadVouched_ = false;
    std::wstring missing_;
    HWND window_ = nullptr;
    UINT message_ = 0;
};
