// install_bench SETUP.EXE RUNS: runs a setup.exe under the benchmark's own
// prefix as a user would and prints, as CSV lines on standard output:
//   startup,SECONDS          from process start to the welcome page shown (one line per run)
//   install,SECONDS          from pressing Install to the finish page shown
//   extract,SECONDS          from the page saying it prepares the files to the end of unpacking
//   peak_working_set,BYTES   setup.exe's peak working set during the installation
// Exit code 0 when the installation reached the finish page, 1 otherwise.
#include "e2e/control_ids.h"
#include "e2e/driver.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>

using namespace e2e;

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

// Polls more finely than the tests do: these are the numbers being measured.
// Reading another process's window text waits for its user-interface
// thread, so the installation is watched less often than the start-up.
template <typename Condition>
bool Poll(Condition condition, DWORD timeoutMs, DWORD intervalMs = 2)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() > deadline)
            return false;
        ::Sleep(intervalMs);
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: install_bench SETUP.EXE RUNS\n");
        return 2;
    }
    const std::wstring exe = argv[1];
    const int runs = std::max(1, _wtoi(argv[2]));

    for (int run = 0; run < runs; ++run) {
        const LARGE_INTEGER start = Now();
        SetupProcess setup(exe);
        if (!setup.Started() || !setup.WaitForFrame())
            return 1;
        if (!Poll([&] { return setup.ShownPageKind() == Page::kWelcome; }, kDeadlineMs))
            return 1;
        std::printf("startup,%.3f\n", Seconds(start, Now()));
        ::PostMessageW(setup.Frame(), WM_CLOSE, 0, 0);
        setup.WaitForExit();
    }

    SetupProcess setup(exe);
    if (!setup.WaitForFrame() || !setup.WaitForPage(Page::kWelcome))
        return 1;
    Click(setup.ShownPage(), kNext);
    HWND destination = setup.WaitForPage(Page::kDestination);
    if (!destination)
        return 1;
    Click(destination, kNext);
    HWND ready = setup.WaitForPage(Page::kReady);
    if (!ready)
        return 1;

    const LARGE_INTEGER pressed = Now();
    Click(ready, kInstall);
    HWND installing = setup.WaitForPage(Page::kInstalling);
    if (!installing)
        return 1;
    LARGE_INTEGER extractStart{}, extractEnd{};
    bool unpacking = false;
    const bool finished = Poll(
        [&] {
            const std::wstring status = ItemText(installing, kStatus);
            const bool inExtraction = status == L"正在准备安装文件..." || status == L"正在解压文件";
            if (inExtraction && !unpacking) {
                unpacking = true;
                extractStart = Now();
            } else if (!inExtraction && unpacking && extractEnd.QuadPart == 0) {
                extractEnd = Now();
            }
            const Page shown = setup.ShownPageKind();
            return shown == Page::kFinish || shown == Page::kCancelled;
        },
        30 * 60 * 1000, 25);
    const LARGE_INTEGER done = Now();
    if (!finished || setup.ShownPageKind() != Page::kFinish)
        return 1;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    ::GetProcessMemoryInfo(setup.Handle(), &memory, sizeof(memory));

    std::printf("install,%.3f\n", Seconds(pressed, done));
    std::printf("extract,%.3f\n", extractEnd.QuadPart ? Seconds(extractStart, extractEnd) : 0.0);
    std::printf("peak_working_set,%llu\n", static_cast<unsigned long long>(memory.PeakWorkingSetSize));
    std::fflush(stdout);
    Click(setup.ShownPage(), kFinishButton);
    setup.WaitForExit();
    return 0;
}
