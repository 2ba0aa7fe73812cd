// Threads for work that must not block the user-interface thread.
#pragma once

#include "system/unique_handle.h"

#include <windows.h>

#include <memory>

namespace framework {

using ThreadProcedure = unsigned(__stdcall*)(void* parameter);

// A running worker thread. The thread holds a reference to its own object
// and drops it when its procedure returns, so the object deletes itself once
// neither the thread nor its starter still uses it: a starter that keeps the
// returned pointer may ask about the thread at any time, one that drops it
// leaks nothing.
class WorkerThread {
public:
    // Starts procedure(parameter) at once on a new thread with normal
    // priority and the default stack size. Null when no thread could be made.
    static std::shared_ptr<WorkerThread> Start(ThreadProcedure procedure, void* parameter);

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() = default;

    HANDLE Handle() const { return handle_.get(); }
    DWORD Id() const { return id_; }
    // True until the procedure has returned.
    bool Running() const;
    // Waits up to milliseconds for the procedure to return; true when it has.
    bool Wait(DWORD milliseconds) const;
    // The procedure's result once it has returned; (unsigned)-1 before.
    unsigned ExitCode() const;

private:
    WorkerThread(ThreadProcedure procedure, void* parameter) : procedure_(procedure), parameter_(parameter) {}
    static unsigned __stdcall Trampoline(void* self);

    ThreadProcedure procedure_;
    void* parameter_;
    UniqueHandle handle_;
    DWORD id_ = 0;
};

}  // namespace framework
