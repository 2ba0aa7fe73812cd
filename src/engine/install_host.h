// What the engine asks of whoever shows an installation: the installing
// page, or nobody in the silent installation. The engine knows nothing of
// windows; the host knows nothing of the steps.
#pragma once

#include <cstdint>
#include <functional>

class InstallHost {
public:
    virtual ~InstallHost() = default;

    // The status line alone; null clears it. On the worker's thread unless
    // the rollback runs it on the host's.
    virtual void ShowStatus(const wchar_t* text) = 0;
    // The detail line; null clears it.
    virtual void ShowDetail(const wchar_t* text) = 0;
    // The bar at position, on a range of 0 to upperBound.
    virtual void ShowProgress(int32_t position, int32_t upperBound) = 0;
    // The extraction began an entry, or went on within a big one: both
    // lines and the bar, with the payload's unpacked bytes done and in all
    // (by which a host may move its bar within the entries' share). Entries
    // come far faster than a page can be redrawn, so a host may draw only
    // the newest, later; FlushEntries draws what is pending before it
    // returns.
    virtual void ShowEntry(const wchar_t* status, const wchar_t* name, int32_t position, int32_t upperBound,
                           uint64_t /*bytesDone*/, uint64_t /*bytesTotal*/)
    {
        ShowStatus(status);
        ShowDetail(name);
        ShowProgress(position, upperBound);
    }
    virtual void FlushEntries() {}

    // The error box with Retry and Cancel: true to try again.
    virtual bool AskRetry(const wchar_t* text) = 0;
    // The error box that tells why the run failed.
    virtual void TellError(const wchar_t* text) = 0;
    // Runs work (the rollback, which draws and tells) on the host's own
    // thread while the caller waits for it to return.
    virtual void RunOnHostThread(const std::function<void()>& work) { work(); }
    // The worker's last act, with its outcome; it may come when the host no
    // longer shows anything.
    virtual void Ended(bool /*succeeded*/) {}
};
