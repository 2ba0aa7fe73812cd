#include "system/locked_int.h"
#include "system/srw_hold.h"


LockedInt::LockedInt() : guarded_(std::make_unique<Guarded>()) {}

int32_t LockedInt::Get() const
{
    SrwHold hold(guarded_->lock);
    return guarded_->value;
}

void LockedInt::Set(int32_t value)
{
    SrwHold hold(guarded_->lock);
    guarded_->value = value;
}

int32_t LockedInt::Increment()
{
    SrwHold hold(guarded_->lock);
    return ++guarded_->value;
}
