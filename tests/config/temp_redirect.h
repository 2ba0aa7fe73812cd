// Points this process's temporary directory at a folder of the test's own,
// so the configuration file the services find is private to the test.
#pragma once

#include <windows.h>

#include <string>

class TempRedirect {
public:
    explicit TempRedirect(const std::wstring& folder)
    {
        had_ = ::GetEnvironmentVariableW(L"TMP", saved_, MAX_PATH) != 0;
        ::SetEnvironmentVariableW(L"TMP", folder.c_str());
    }
    ~TempRedirect() { ::SetEnvironmentVariableW(L"TMP", had_ ? saved_ : nullptr); }
    TempRedirect(const TempRedirect&) = delete;
    TempRedirect& operator=(const TempRedirect&) = delete;

private:
    wchar_t saved_[MAX_PATH] = {};
    bool had_ = false;
};
