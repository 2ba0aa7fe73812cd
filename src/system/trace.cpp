#include "system/trace.h"

#include "system/install_log.h"

#include <mutex>

namespace {

struct TraceTarget {
    std::mutex lock;
    InstallTraceSink sink = nullptr;
    void* context = nullptr;
};

TraceTarget& Target()
{
    static TraceTarget target;
    return target;
}

}  // namespace

void InstallTrace(const wchar_t* line)
{
    if (!line)
        return;
    TraceTarget& target = Target();
    // Held across the call so lines from two threads reach the sink whole and
    // in one order, and no line reaches a sink after it was replaced.
    std::lock_guard<std::mutex> hold(target.lock);
    LogLine(line);
    if (target.sink)
        target.sink(target.context, line);
}

void SetInstallTraceSink(InstallTraceSink sink, void* context)
{
    TraceTarget& target = Target();
    std::lock_guard<std::mutex> hold(target.lock);
    target.sink = sink;
    target.context = context;
}
