// file_properties EXE
//
// Prints the version information of EXE as the system reads it
// (GetFileVersionInfoW, VerQueryValueW), one NAME=VALUE line each in UTF-8:
// the binary file and product versions as four numbers, then every string
// of the Simplified Chinese Unicode table. Exit code 0 when the file has
// version information, 1 when not, 2 on wrong usage.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& line)
{
    const std::wstring text = line + L"\n";
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string out(bytes, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes, nullptr,
                          nullptr);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

std::wstring Quad(DWORD ms, DWORD ls)
{
    return std::to_wstring(HIWORD(ms)) + L"." + std::to_wstring(LOWORD(ms)) + L"." + std::to_wstring(HIWORD(ls)) +
           L"." + std::to_wstring(LOWORD(ls));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fputs("usage: file_properties EXE\n", stderr);
        return 2;
    }
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(argv[1], &handle);
    if (size == 0)
        return 1;
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(argv[1], 0, size, block.data()))
        return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        Print(L"binary FileVersion=" + Quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
        Print(L"binary ProductVersion=" + Quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    }
    for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"FileVersion", L"LegalCopyright",
                                L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        wchar_t* value = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
        if (::VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) && value)
            Print(std::wstring(name) + L"=" + value);
    }
    return 0;
}
