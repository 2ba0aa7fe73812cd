#include "system/locked_int.h"

class LockedInt::Hold {
public:
    explicit Hold(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~Hold() { ::ReleaseSRWLockExclusive(&lock_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    SRWLOCK& lock_;
};

LockedInt::LockedInt() : guarded_(std::make_unique<Guarded>()) {}

int32_t LockedInt::Get() const
{
    Hold hold(guarded_->lock);
    return guarded_->value;
}

void LockedInt::Set(int32_t value)
{
    Hold hold(guarded_->lock);
    guarded_->value = value;
}

int32_t LockedInt::Increment()
{
    Hold hold(guarded_->lock);
    return ++guarded_->value;
}
