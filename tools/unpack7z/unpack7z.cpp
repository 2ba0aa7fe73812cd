// unpack7z ARCHIVE FOLDER: unpacks a 7z archive with the installer's own
// package reader and prints what it does, one line per entry.
//
// Exit codes: 0 when every entry was written, 1 when unpacking failed,
// 2 on wrong usage.
#include "package/package.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void WriteOut(const std::string& text)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
                nullptr);
}

std::string ToUtf8(const std::wstring& wide)
{
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(bytes - 1));
    return utf8;
}

std::string Convert(const char* text, UINT fromCodePage)
{
    const int units = ::MultiByteToWideChar(fromCodePage, 0, text, -1, nullptr, 0);
    if (units <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(fromCodePage, 0, text, -1, wide.data(), units);
    return ToUtf8(wide);
}

void OnProgress(void*, ExtractProgress progress)
{
    // A big entry is reported again as it is written; its line is printed once.
    static int64_t lastIndex = -1;
    if (static_cast<int64_t>(progress.index) == lastIndex)
        return;
    lastIndex = progress.index;
    WriteOut(std::to_string(progress.index) + "/" + std::to_string(progress.total) + " " + ToUtf8(progress.name) +
             "\n");
}

void OnLog(void*, const char* text)
{
    // The package's texts are GBK on every system.
    WriteOut(Convert(text, 936));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        WriteOut("usage: unpack7z ARCHIVE FOLDER\n");
        return 2;
    }
    std::wstring folder = argv[2];
    while (folder.size() > 2 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    ::CreateDirectoryW(folder.c_str(), nullptr);

    CSPPackage package;
    int context = 0;
    package.SetCallbacks(&context, OnProgress, OnLog);
    int32_t current = -1;
    return package.Decode(argv[1], folder.c_str(), &current) ? 0 : 1;
}
