// One exclusive hold of a slim reader/writer lock for as long as the object
// lives: the lock stays inside the process, so taking it costs no trip to
// the system when nobody else holds it.
#pragma once

#include <windows.h>

class SrwHold {
public:
    explicit SrwHold(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~SrwHold() { ::ReleaseSRWLockExclusive(&lock_); }
    SrwHold(const SrwHold&) = delete;
    SrwHold& operator=(const SrwHold&) = delete;

private:
    SRWLOCK& lock_;
};
