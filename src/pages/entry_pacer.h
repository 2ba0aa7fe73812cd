// The newest archive entry between the worker that reports it and the
// installing page's thread that draws it. The worker reports thousands of
// entries a second; each drawing is a round of messages to a window system
// that under Wine is another process, taking the processors the decoding
// needs. So the page draws at most once an interval, always the newest
// entry, and at once when the worker asks it to before going on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

struct ShownEntry {
    std::wstring status;
    std::wstring name;
    int32_t position = 0;
    int32_t upperBound = 0;
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
};

class EntryPacer {
public:
    explicit EntryPacer(ULONGLONG intervalMs) : intervalMs_(intervalMs) {}

    // The worker's side: entry is the newest. True when the page's thread
    // must be woken, false when a wake-up or a later drawing is on its way.
    bool Offer(ShownEntry entry);

    // The page's side, woken at now (milliseconds); flush: the worker waits
    // for the drawing. True with the entry to draw now. False when there is
    // nothing to draw (*waitMs 0), or when the last drawing is too recent:
    // then the page comes back after *waitMs, and the worker wakes nobody
    // meanwhile.
    bool Take(ULONGLONG now, bool flush, ShownEntry* entry, ULONGLONG* waitMs);

private:
    const ULONGLONG intervalMs_;
    std::mutex lock_;
    ShownEntry entry_;
    bool pending_ = false;
    bool awake_ = false;
    bool drawnOnce_ = false;
    ULONGLONG drawnAt_ = 0;
};
