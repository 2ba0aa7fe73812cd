#include "framework/safe_loading.h"

#include <string>

namespace framework {

bool RestrictDllSearchToSystemFolder()
{
    // Looked up rather than imported: an import the system lacks would keep
    // the program from starting at all.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                   reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                             : nullptr;
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return true;
    ::SetDllDirectoryW(L"");
    return false;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::wstring path(folder, length);
    if (path.back() != L'\\')
        path += L'\\';
    path += name;
    // A full path is never searched for, and the system folder is where the
    // DLL's own imports are then looked up first.
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool InitCommonControlsFromSystem()
{
    HMODULE comctl = LoadSystemLibrary(L"comctl32.dll");
    if (!comctl)
        return false;
    // comctl32 stays loaded for the life of the process: the progress bar's
    // window class lives in it.
    using InitCommonControlsFn = void(WINAPI*)();
    auto init = reinterpret_cast<InitCommonControlsFn>(
        reinterpret_cast<void*>(::GetProcAddress(comctl, "InitCommonControls")));
    if (!init)
        return false;
    init();
    return true;
}

}  // namespace framework
