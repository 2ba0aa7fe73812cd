// setup.exe's entry point.
#include "app/setup_app.h"
#include "framework/safe_loading.h"

#include <windows.h>

namespace {

CSetupApp theApp;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // Before anything can load a DLL by name: setup.exe is typically run
    // from a folder of downloaded files, any of which could be a planted DLL.
    framework::RestrictDllSearchToSystemFolder();
    return theApp.Run(instance);
}
