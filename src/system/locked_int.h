// A 32-bit integer shared between threads, guarded by its own mutex.
#pragma once

#include "system/unique_handle.h"

#include <cstdint>
#include <memory>

// Every read and every write takes the mutex for that single access only, so
// no two LockedInts are ever held at once and none is held across a call.
class LockedInt {
public:
    LockedInt();
    LockedInt(const LockedInt&) = delete;
    LockedInt& operator=(const LockedInt&) = delete;

    int32_t Get() const;
    void Set(int32_t value);
    // Adds one under a single hold of the mutex; returns the new value.
    int32_t Increment();

private:
    class Hold;

    UniqueHandle mutex_;
    std::unique_ptr<int32_t> value_;
};
