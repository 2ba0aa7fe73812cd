#include "framework/application.h"

#include "system/paths.h"

#include <ole2.h>

#include <vector>

namespace framework {

std::wstring ApplicationNameFromPath(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0)
        name.resize(dot);
    return name;
}

namespace {


}  // namespace

bool Application::InitApplication()
{
    name_ = ApplicationNameFromPath(ModulePath(instance_));
    comInitialised_ = SUCCEEDED(::OleInitialize(nullptr));
    return true;
}

int Application::ExitInstance()
{
    if (comInitialised_)
        ::OleUninitialize();
    comInitialised_ = false;
    return 0;
}

int Application::Run(HINSTANCE instance)
{
    instance_ = instance;
    if (!InitApplication())
        return ExitInstance();
    if (InitInstance()) {
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return ExitInstance();
}

}  // namespace framework
