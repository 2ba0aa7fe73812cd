// Loads comctl32.dll by name with the system's default search order, the
// way a program without start-up hardening would.
#include <windows.h>

int wmain()
{
    return ::LoadLibraryW(L"comctl32.dll") ? 0 : 1;
}
