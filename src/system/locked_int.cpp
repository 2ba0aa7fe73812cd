#include "system/locked_int.h"

class LockedInt::Hold {
public:
    explicit Hold(HANDLE mutex) : mutex_(mutex) { ::WaitForSingleObject(mutex_, INFINITE); }
    ~Hold() { ::ReleaseMutex(mutex_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    HANDLE mutex_;
};

LockedInt::LockedInt()
    : mutex_(::CreateMutexW(nullptr, FALSE, nullptr)), value_(std::make_unique<int32_t>(0))
{
}

int32_t LockedInt::Get() const
{
    Hold hold(mutex_.get());
    return *value_;
}

void LockedInt::Set(int32_t value)
{
    Hold hold(mutex_.get());
    *value_ = value;
}

int32_t LockedInt::Increment()
{
    Hold hold(mutex_.get());
    return ++*value_;
}
