// in_place_bench ARCHIVE FOLDER [RUNS]: lists the archive's entries and asks
// FindEntriesInPlace which of them FOLDER already holds, RUNS times (default
// 5), printing each run's wall time and what it found. Exit code 0 when
// every file entry with data was found in place on every run.
#include "package/package.h"
#include "system/unique_handle.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::printf("usage: in_place_bench ARCHIVE FOLDER [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? _wtoi(argv[3]) : 5;
    const UniqueFile file(
        ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    std::vector<ArchiveEntry> entries;
    std::string table;
    // The table an installer would carry, made here from the archive itself.
    if (!file || !::GetFileSizeEx(file.get(), &size) ||
        !MakeEntryDigestTable(file.get(), 0, static_cast<uint64_t>(size.QuadPart), &table) ||
        !ListEntries(file.get(), 0, static_cast<uint64_t>(size.QuadPart), table, &entries)) {
        std::printf("cannot list %ls\n", argv[1]);
        return 1;
    }
    size_t candidates = 0;
    uint64_t bytes = 0;
    for (const ArchiveEntry& entry : entries) {
        candidates += entry.hasSha256;
        bytes += entry.hasSha256 ? entry.size : 0;
    }
    std::printf("%zu entries, %zu files with data, %.1f MB\n", entries.size(), candidates, bytes / 1e6);
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    // Wall time alone says little on a busy machine: the process's own
    // processor time is printed beside it (the Wine server's is not in it).
    const auto cpuSeconds = [] {
        FILETIME created, exited, kernel, user;
        ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
        const auto ticks = [](FILETIME t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
        return (ticks(kernel) + ticks(user)) / 1e7;
    };
    bool all = true;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start{}, end{};
        const double cpuBefore = cpuSeconds();
        ::QueryPerformanceCounter(&start);
        const std::vector<bool> inPlace = FindEntriesInPlace(argv[2], entries, nullptr);
        ::QueryPerformanceCounter(&end);
        size_t found = 0;
        for (const bool kept : inPlace)
            found += kept;
        all = all && found == candidates;
        std::printf("run %d: %.3f s wall, %.3f s processor, %zu in place\n", run + 1,
                    static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
                    cpuSeconds() - cpuBefore, found);
    }
    return all ? 0 : 1;
}
