#include "pages/entry_pacer.h"

#include <utility>

bool EntryPacer::Offer(ShownEntry entry)
{
    std::lock_guard<std::mutex> hold(lock_);
    entry_ = std::move(entry);
    pending_ = true;
    const bool wake = !awake_;
    awake_ = true;
    return wake;
}

bool EntryPacer::Take(ULONGLONG now, bool flush, ShownEntry* entry, ULONGLONG* waitMs)
{
    std::lock_guard<std::mutex> hold(lock_);
    *waitMs = 0;
    if (!pending_) {
        awake_ = false;
        return false;
    }
    if (!flush && drawnOnce_ && now - drawnAt_ < intervalMs_) {
        *waitMs = intervalMs_ - (now - drawnAt_);
        return false;
    }
    *entry = std::move(entry_);
    pending_ = false;
    awake_ = false;
    drawnOnce_ = true;
    drawnAt_ = now;
    return true;
}
