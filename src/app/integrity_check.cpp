#include "app/integrity_check.h"

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
        Finish(CheckPayloadDigest());
}

unsigned __stdcall IntegrityCheck::CheckProc(void* self)
{
    auto* check = static_cast<IntegrityCheck*>(self);
    DigestCheck result = DigestCheck::Mismatch;
    try {
        result = CheckPayloadDigest();
    } catch (...) {
        // Out of memory while reading: nothing vouches for the payload.
    }
    check->Finish(result);
    return 0;
}

void IntegrityCheck::Finish(DigestCheck result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = result;
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
