// A plain window standing in for the installing page: the status line, the
// detail line and the progress bar under their ids, recording every text,
// bar message and failure message that reaches them, in order.
#pragma once

#include "engine/install_engine.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class TestPage {
public:
    TestPage();
    ~TestPage();

    HWND window() const { return window_; }

    // Runs the worker on its own thread for engine, pumping this thread's
    // messages until it has ended. False when it did not end in time.
    bool RunWorker(InstallEngine& engine);

    // Pumps messages for about milliseconds.
    void Pump(DWORD milliseconds);

    std::vector<std::wstring> statusTexts;  // texts set on 1014, in order
    std::vector<std::wstring> detailTexts;  // texts set on 1015
    std::vector<int> positions;             // PBM_SETPOS values
    std::vector<int> rangeTops;             // PBM_SETRANGE(32) upper bounds
    std::vector<WPARAM> failures;           // WM_INSTALL_FAILED wParams
    int closes = 0;                         // WM_CLOSE received
    // Called on this thread for every text set on the detail line.
    std::function<void(const std::wstring&)> onDetail;

private:
    static LRESULT CALLBACK PageProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK ControlProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

    HWND window_ = nullptr;
    InstallEngine* engine_ = nullptr;
};

// Answers message boxes of a caption from a thread of its own, recording
// their texts, until destroyed.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(const wchar_t* caption);
    ~MessageBoxAnswerer();
    std::vector<std::wstring> Texts();

private:
    static DWORD WINAPI Watch(void* self);
    std::wstring caption_;
    CRITICAL_SECTION lock_;
    std::vector<std::wstring> texts_;
    HANDLE stop_;
    HANDLE thread_;
};
