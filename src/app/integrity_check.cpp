#include "app/integrity_check.h"

#include "system/install_log.h"

IntegrityCheck::~IntegrityCheck()
{
    // The thread reads this object to the end: never leave it behind.
    if (thread_)
        thread_->Wait(INFINITE);
}

void IntegrityCheck::Start()
{
    thread_ = framework::WorkerThread::Start(&IntegrityCheck::CheckProc, this);
    if (!thread_)
        Check();
}

unsigned __stdcall IntegrityCheck::CheckProc(void* self)
{
    static_cast<IntegrityCheck*>(self)->Check();
    return 0;
}

void IntegrityCheck::Check()
{
    constexpr int kPayloadId = 148;
    DigestCheck result = DigestCheck::Mismatch;
    bool vouched = false;
    try {
        result = CheckPayloadDigest(nullptr, payload_);
        // Without a digest the window is compared whole with what was
        // loaded: a file put in the image's place before the window was
        // opened is not unpacked.
        vouched = result == DigestCheck::Match ||
                  (result == DigestCheck::Absent && WindowHoldsResource(nullptr, kPayloadId, L"DATA", payload_));
    } catch (...) {
        // Out of memory while reading: nothing vouches for the payload.
        result = DigestCheck::Mismatch;
        vouched = false;
    }
    LogLine(result == DigestCheck::Match      ? L"digest: the configuration and the payload match it"
            : result == DigestCheck::Mismatch ? L"digest: does not match; the installer is damaged"
            : vouched                         ? L"digest: none recorded; the payload in the file is the one loaded"
                                              : L"digest: none recorded; the payload in the file differs from the one loaded");
    Finish(result, vouched);
}

void IntegrityCheck::Finish(DigestCheck result, bool payloadVouched)
{
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = result;
    payloadVouched_ = payloadVouched;
    done_ = true;
    if (window_)
        ::PostMessageW(window_, message_, 0, 0);
}

void IntegrityCheck::NotifyWhenDone(HWND window, UINT message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = window;
    message_ = message;
    if (done_ && window_)
        ::PostMessageW(window_, message_, 0, 0);
}

bool IntegrityCheck::Done() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

bool IntegrityCheck::Passed()
{
    if (thread_)
        thread_->Wait(INFINITE);
    std::lock_guard<std::mutex> lock(mutex_);
    return done_ && result_ != DigestCheck::Mismatch;
}

const ResourceWindow& IntegrityCheck::Payload()
{
    if (thread_)
        thread_->Wait(INFINITE);
    std::lock_guard<std::mutex> lock(mutex_);
    return done_ && payloadVouched_ ? payload_ : none_;
}
