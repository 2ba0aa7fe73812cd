#include "app/setup_app.h"

#include "app/main_dialog.h"
#include "config/config.h"
#include "framework/safe_loading.h"

bool CSetupApp::InitInstance()
{
    framework::InitCommonControlsFromSystem();
    // Named after the executable, so that copies under other names run side
    // by side. Never closed: it marks this copy until the process ends.
    HANDLE marker = ::CreateMutexW(nullptr, TRUE, Name().c_str());
    if (marker && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(marker);
        return false;
    }
    {
        CSPMainDialog frame;
        SetMainWindow(&frame);
        frame.DoModal(nullptr);
        SetMainWindow(nullptr);
    }
    // However the wizard ended (finished, failed, cancelled, closed), the
    // run's temporary folder goes with it, once the pages have let go of
    // what they held there.
    RemoveRunFolder();
    return false;
}
