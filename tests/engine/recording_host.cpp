#include "recording_host.h"

#include <process.h>

bool RecordingHost::RunWorker(InstallEngine& engine, const std::wstring& installDir,
                              const std::function<void()>& whileRunning)
{
    HANDLE thread = reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, &InstallEngine::InstallThreadProc, &engine, 0, nullptr));
    if (!thread)
        return false;
    engine.SignalStart(installDir);
    if (whileRunning)
        whileRunning();
    const bool ended = ::WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0;
    ::CloseHandle(thread);
    return ended && engine.WorkerEnded(nullptr);
}

void RecordingHost::ShowStatus(const wchar_t* text)
{
    std::lock_guard<std::mutex> hold(lock);
    const std::wstring shown = text ? text : L"";
    if (shown != status_)
        statusTexts.push_back(status_ = shown);
}

void RecordingHost::ShowDetail(const wchar_t* text)
{
    const std::wstring shown = text ? text : L"";
    {
        std::lock_guard<std::mutex> hold(lock);
        if (shown == detail_)
            return;
        detailTexts.push_back(detail_ = shown);
    }
    if (onDetail)
        onDetail(shown);
}

void RecordingHost::ShowProgress(int32_t position, int32_t upperBound)
{
    std::lock_guard<std::mutex> hold(lock);
    positions.push_back(position);
    rangeTops.push_back(upperBound);
}

bool RecordingHost::AskRetry(const wchar_t* text)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        boxes.push_back(text);
    }
    return retry && retry(text);
}

void RecordingHost::TellError(const wchar_t* text)
{
    std::lock_guard<std::mutex> hold(lock);
    boxes.push_back(text);
}

void RecordingHost::RunOnHostThread(const std::function<void()>& work)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        ++rollbacks;
    }
    work();
}
