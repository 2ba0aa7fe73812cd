// A 32-bit integer shared between threads, guarded by its own lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

// Every read and every write takes the lock for that single access only, so
// no two LockedInts are ever held at once and none is held across a call.
// The lock is a slim reader/writer lock used exclusively: it stays inside the
// process, so an access without contention makes no call to the system.
class LockedInt {
public:
    LockedInt();
    LockedInt(const LockedInt&) = delete;
    LockedInt& operator=(const LockedInt&) = delete;

    int32_t Get() const;
    void Set(int32_t value);
    // Adds one under a single hold of the lock; returns the new value.
    int32_t Increment();

private:
    struct Guarded {
        SRWLOCK lock = SRWLOCK_INIT;
        int32_t value = 0;
    };

    // On the heap, so the value and its lock keep their address.
    std::unique_ptr<Guarded> guarded_;
};
