#include "framework/worker_thread.h"

#include <process.h>

#include <exception>

namespace framework {

std::shared_ptr<WorkerThread> WorkerThread::Start(ThreadProcedure procedure, void* parameter)
{
    if (!procedure)
        return nullptr;
    std::shared_ptr<WorkerThread> thread(new WorkerThread(procedure, parameter));
    // The thread's own reference travels as its parameter.
    auto* own = new std::shared_ptr<WorkerThread>(thread);
    unsigned id = 0;
    // _beginthreadex rather than CreateThread: the procedure may use the C
    // runtime, which needs its per-thread data set up.
    const uintptr_t handle = ::_beginthreadex(nullptr, 0, &WorkerThread::Trampoline, own, 0, &id);
    if (handle == 0) {
        delete own;
        return nullptr;
    }
    thread->handle_.reset(reinterpret_cast<HANDLE>(handle));
    thread->id_ = id;
    return thread;
}

unsigned __stdcall WorkerThread::Trampoline(void* self)
{
    std::unique_ptr<std::shared_ptr<WorkerThread>> own(static_cast<std::shared_ptr<WorkerThread>*>(self));
    unsigned result = 1;
    try {
        result = (*own)->procedure_((*own)->parameter_);
    } catch (...) {
        // Nothing may unwind out of a thread procedure.
        ::OutputDebugStringA("unexpected exception in a worker thread");
    }
    return result;
}

bool WorkerThread::Running() const { return handle_ && ::WaitForSingleObject(handle_.get(), 0) == WAIT_TIMEOUT; }

bool WorkerThread::Wait(DWORD milliseconds) const
{
    return handle_ && ::WaitForSingleObject(handle_.get(), milliseconds) == WAIT_OBJECT_0;
}

unsigned WorkerThread::ExitCode() const
{
    DWORD code = static_cast<DWORD>(-1);
    if (!handle_ || !::GetExitCodeThread(handle_.get(), &code) || code == STILL_ACTIVE)
        return static_cast<unsigned>(-1);
    return code;
}

}  // namespace framework
