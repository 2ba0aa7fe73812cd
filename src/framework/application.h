// The application object: one per program, run by wWinMain.
#pragma once

#include <windows.h>

#include <string>

namespace framework {

class Application {
public:
    Application() = default;
    virtual ~Application() = default;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The framework's initialisation, then InitInstance; when that returns
    // true, a message loop until WM_QUIT. Returns ExitInstance's code.
    int Run(HINSTANCE instance);

    // The program's file name without folder and extension ("setup" for
    // C:\Downloads\setup.exe).
    const std::wstring& Name() const { return name_; }

protected:
    // The framework's own initialisation: the program's name, and COM in the
    // single-threaded apartment the shell's dialogs need. False ends the
    // program before InitInstance.
    bool InitApplication();
    // The program's own start; false means there is no message loop to run
    // and the program ends.
    virtual bool InitInstance() = 0;
    virtual int ExitInstance();

private:
    HINSTANCE instance_ = nullptr;
    std::wstring name_;
    bool comInitialised_ = false;
};

// The file name of path without its folder and its last extension.
std::wstring ApplicationNameFromPath(const std::wstring& path);

}  // namespace framework
