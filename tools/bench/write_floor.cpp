// write_floor LIST FOLDER MODE: writes the files named in LIST (lines of
// "SIZE PATH", PATH relative with "/", UTF-8) into FOLDER from memory, the
// way the package writes them, and prints "write_floor,MODE,SECONDS". It is
// the floor under the installer's extraction: the same files, no decoding.
// Modes: plain (create, write, close, as the package does), sequential
// (FILE_FLAG_SEQUENTIAL_SCAN), preallocate (end of file set first),
// chunked (1 MiB writes instead of one).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

std::wstring Wide(const std::string& utf8)
{
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(units > 0 ? static_cast<size_t>(units) : 1, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), units);
    wide.resize(wide.size() - 1);
    return wide;
}

// data holds dataSize bytes; a larger file is written from it again and
// again, so that a file past 4 GiB needs no buffer of its size.
bool WriteOne(const std::wstring& path, const char* data, size_t dataSize, size_t size, const std::wstring& mode)
{
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (mode == L"sequential" ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    if (mode == L"preallocate" && size > 0) {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        ok = ::SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof(end));
    }
    const size_t chunk = std::min<size_t>(mode == L"chunked" ? (1u << 20) : (1u << 30), dataSize);
    for (size_t done = 0; ok && done < size;) {
        const DWORD piece = static_cast<DWORD>(std::min(chunk, size - done));
        DWORD written = 0;
        ok = ::WriteFile(file, data + done % dataSize, piece, &written, nullptr) && written == piece;
        done += piece;
    }
    return ::CloseHandle(file) && ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: write_floor LIST FOLDER MODE\n");
        return 2;
    }
    std::ifstream list(argv[1]);
    std::vector<std::pair<size_t, std::wstring>> files;
    size_t largest = 0;
    for (std::string line; std::getline(list, line);) {
        const size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        files.emplace_back(std::stoull(line.substr(0, space)), Wide(line.substr(space + 1)));
        largest = std::max(largest, files.back().first);
    }
    std::vector<char> data(std::min<size_t>(largest + 1, size_t{1} << 28));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 2654435761u >> 24);
    const std::wstring folder = argv[2];
    const std::wstring mode = argv[3];

    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    std::unordered_set<std::wstring> made;
    for (auto& [size, name] : files) {
        for (auto& c : name) {
            if (c == L'/')
                c = L'\\';
        }
        for (size_t slash = name.find(L'\\'); slash != std::wstring::npos; slash = name.find(L'\\', slash + 1)) {
            if (made.insert(name.substr(0, slash)).second)
                ::CreateDirectoryW((folder + L"\\" + name.substr(0, slash)).c_str(), nullptr);
        }
        if (!WriteOne(folder + L"\\" + name, data.data(), data.size(), size, mode)) {
            std::fprintf(stderr, "write_floor: cannot write %ls\n", name.c_str());
            return 1;
        }
    }
    ::QueryPerformanceCounter(&end);
    std::printf("write_floor,%ls,%.3f\n", mode.c_str(),
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}
